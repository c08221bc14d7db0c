#include "shell/keystore.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "shell/xdgdirs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>

namespace tlg {

namespace {

constexpr std::string_view kFileHeader =
    "; Log Viewer: the user's file types, kept as HKEY_CLASSES_ROOT keeps them.\n";

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

enum class PathKind { Valid, Invalid, TooDeep };

// The names of a key path; empty when the path is not valid, and then `kind` says why.
std::vector<std::string_view> splitPath(std::string_view path, PathKind* kind = nullptr)
{
    std::vector<std::string_view> names;
    const auto fail = [&](PathKind why) {
        if (kind)
            *kind = why;
        return std::vector<std::string_view>();
    };
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        const std::string_view name = path.substr(start, end - start);
        if (name.empty() || std::any_of(name.begin(), name.end(), isControl))
            return fail(PathKind::Invalid);
        if (names.size() == kMaxKeyDepth)
            return fail(PathKind::TooDeep);
        names.push_back(name);
        if (end == path.size()) {
            if (kind)
                *kind = PathKind::Valid;
            return names;
        }
        start = end + 1;
    }
}

void appendQuoted(std::string& out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '"';
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (isControl(c)) {
            const auto byte = static_cast<unsigned char>(c);
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = upperAscii(c);
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted text at line[at], moving `at` past its closing quote; nothing when malformed.
std::optional<std::string> readQuoted(std::string_view line, std::size_t& at)
{
    if (at >= line.size() || line[at] != '"')
        return std::nullopt;
    std::string text;
    for (++at; at < line.size(); ++at) {
        const char c = line[at];
        if (c == '"') {
            ++at;
            return text;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++at >= line.size())
            return std::nullopt;
        if (line[at] == '\\' || line[at] == '"') {
            text += line[at];
        } else if (line[at] == 'x' && at + 2 < line.size() && hexDigit(line[at + 1]) >= 0 &&
                   hexDigit(line[at + 2]) >= 0) {
            text += static_cast<char>(hexDigit(line[at + 1]) * 16 + hexDigit(line[at + 2]));
            at += 2;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}


// The index key of a name under a key: the key's id and the name upper-cased.
std::string indexKey(std::uint32_t node, std::string_view name)
{
    std::string key(reinterpret_cast<const char*>(&node), sizeof node);
    for (const char c : name)
        key += upperAscii(c);
    return key;
}

} // namespace

KeyTree::KeyTree() : m_nodes(1) {}

KeyTree::Value* KeyTree::findValue(NodeId node, std::string_view valueName)
{
    const auto found = m_valueIndex.find(indexKey(node, valueName));
    return found == m_valueIndex.end() ? nullptr : &m_nodes[node].values[found->second];
}

void KeyTree::putValue(NodeId node, std::string_view valueName, std::string_view data)
{
    if (Value* value = findValue(node, valueName)) {
        value->data = data;
        return;
    }
    std::vector<Value>& values = m_nodes[node].values;
    m_valueIndex.emplace(indexKey(node, valueName), values.size());
    values.push_back(Value{std::string(valueName), std::string(data)});
}

KeyTree::NodeId KeyTree::child(NodeId parent, std::string_view name) const
{
    const auto found = m_index.find(indexKey(parent, name));
    return found == m_index.end() ? kNoNode : found->second;
}

KeyTree::NodeId KeyTree::addChild(NodeId parent, std::string_view name)
{
    const auto id = static_cast<NodeId>(m_nodes.size());
    m_index.emplace(indexKey(parent, name), id);
    m_nodes.push_back(Node{std::string(name), {}, {}});
    m_nodes[parent].children.push_back(id);
    return id;
}

KeyTree::NodeId KeyTree::find(std::string_view path) const
{
    const std::vector<std::string_view> names = splitPath(path);
    if (names.empty())
        return kNoNode;
    NodeId node = 0;
    for (const std::string_view name : names) {
        node = child(node, name);
        if (node == kNoNode)
            return kNoNode;
    }
    return node;
}

bool KeyTree::hasKey(std::string_view path) const
{
    return find(path) != kNoNode;
}

std::string KeyTree::value(std::string_view path, std::string_view valueName) const
{
    const NodeId node = find(path);
    if (node == kNoNode)
        return std::string();
    const auto found = m_valueIndex.find(indexKey(node, valueName));
    return found == m_valueIndex.end() ? std::string() : m_nodes[node].values[found->second].data;
}

std::vector<std::string> KeyTree::subkeyNames(std::string_view path) const
{
    std::vector<std::string> names;
    const NodeId node = find(path);
    if (node != kNoNode) {
        for (const NodeId id : m_nodes[node].children)
            names.push_back(m_nodes[id].name);
    }
    return names;
}

bool KeyTree::createKey(std::string_view path, bool* created)
{
    const std::vector<std::string_view> names = splitPath(path);
    if (names.empty())
        return false;
    NodeId node = 0;
    for (const std::string_view name : names) {
        NodeId next = child(node, name);
        if (next == kNoNode) {
            next = addChild(node, name);
            if (created)
                *created = true;
        }
        node = next;
    }
    return true;
}

bool KeyTree::setValue(std::string_view path, std::string_view valueName, std::string_view data,
                       bool* changed)
{
    const NodeId node = find(path);
    if (node == kNoNode)
        return false;
    const Value* existing = findValue(node, valueName);
    if (existing && existing->data == data)
        return true;
    putValue(node, valueName, data);
    if (changed)
        *changed = true;
    return true;
}

bool KeyTree::removeKey(std::string_view path)
{
    std::vector<std::string_view> names = splitPath(path);
    if (names.empty())
        return false;
    const std::string_view name = names.back();
    names.pop_back();
    NodeId parent = 0;
    for (const std::string_view part : names) {
        parent = child(parent, part);
        if (parent == kNoNode)
            return false;
    }
    const NodeId node = child(parent, name);
    if (node == kNoNode)
        return false;
    // Only its entry under the parent goes: what lies beneath can no longer be reached.
    m_index.erase(indexKey(parent, name));
    std::vector<NodeId>& siblings = m_nodes[parent].children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), node));
    return true;
}

KeyTree KeyTree::parse(std::string_view text)
{
    KeyTree tree;
    NodeId current = kNoNode;
    std::size_t start = 0;
    for (std::size_t number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos || line[0] == ';')
            continue;
        const auto bad = [number](const char* why) {
            return Failure("line " + std::to_string(number) + " " + why);
        };

        if (line.front() == '[' && line.back() == ']') {
            PathKind kind = PathKind::Valid;
            const std::vector<std::string_view> names = splitPath(line.substr(1, line.size() - 2), &kind);
            if (kind == PathKind::TooDeep)
                throw bad(("nests keys deeper than " + std::to_string(kMaxKeyDepth) + " levels").c_str());
            if (names.empty())
                throw bad("is not in the store's format");
            NodeId node = 0;
            for (const std::string_view name : names) {
                const NodeId next = tree.child(node, name);
                node = next != kNoNode ? next : tree.addChild(node, name);
            }
            current = node;
            continue;
        }
        if (current == kNoNode)
            throw bad("is not in the store's format");
        std::size_t at = 0;
        std::optional<std::string> name;
        if (line[0] == '@') {
            name = std::string();
            at = 1;
        } else {
            name = readQuoted(line, at);
        }
        if (!name || at >= line.size() || line[at] != '=')
            throw bad("is not in the store's format");
        ++at;
        const std::optional<std::string> data = readQuoted(line, at);
        if (!data || at != line.size())
            throw bad("is not in the store's format");
        tree.putValue(current, *name, *data);
    }
    return tree;
}

std::string KeyTree::text() const
{
    std::string out(kFileHeader);
    // Depth first without recursion: each entry is a key and the length of its path.
    struct Step
    {
        NodeId node;
        std::size_t pathLength;
    };
    std::vector<Step> pending;
    const std::vector<NodeId>& top = m_nodes[0].children;
    for (auto it = top.rbegin(); it != top.rend(); ++it)
        pending.push_back({*it, 0});
    std::string path;
    while (!pending.empty()) {
        const Step step = pending.back();
        pending.pop_back();
        const Node& node = m_nodes[step.node];
        path.resize(step.pathLength);
        if (!path.empty())
            path += '\\';
        path += node.name;
        // A key with no values and subkeys comes into being with its first subkey's path.
        if (!node.values.empty() || node.children.empty()) {
            out += "\n[" + path + "]\n";
            for (const Value& value : node.values) {
                if (value.name.empty())
                    out += '@';
                else
                    appendQuoted(out, value.name);
                out += '=';
                appendQuoted(out, value.data);
                out += '\n';
            }
        }
        for (auto it = node.children.rbegin(); it != node.children.rend(); ++it)
            pending.push_back({*it, path.size()});
    }
    return out;
}

KeyTree KeyStore::read() const
{
    const auto unusable = [this](const std::string& why) {
        return Failure("The association store " + m_file + " cannot be used: " + why +
                       "; it is left as it is");
    };
    struct stat info {};
    if (::stat(m_file.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return KeyTree();
        throw unusable(std::strerror(errno));
    }
    std::string text;
    try {
        text = ReadSettingsFile(m_file);
    } catch (const Failure& failure) {
        throw unusable(failure.what());
    }
    try {
        return KeyTree::parse(text);
    } catch (const Failure& failure) {
        throw unusable(failure.what());
    }
}

void KeyStore::write(const KeyTree& tree) const
{
    const std::size_t slash = m_file.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(m_file.substr(0, slash + 1)))
        throw Failure("Cannot create file " + m_file);
    WriteFileAtomically(m_file, tree.text());
}

namespace {

// The tree of the store, or nothing when it cannot be used.
std::optional<KeyTree> load(const KeyStore& store)
{
    try {
        return store.read();
    } catch (const Failure&) {
        return std::nullopt;
    }
}

bool save(const KeyStore& store, const KeyTree& tree)
{
    try {
        store.write(tree);
    } catch (const Failure&) {
        return false;
    }
    return true;
}

} // namespace

RegistryKey KeyStore::openKey(std::string_view path, bool create) const
{
    if (splitPath(path).empty())
        return RegistryKey();
    std::optional<KeyTree> tree = load(*this);
    if (!tree)
        return RegistryKey();
    bool created = false;
    if (create ? !tree->createKey(path, &created) : !tree->hasKey(path))
        return RegistryKey();
    if (created && !save(*this, *tree))
        return RegistryKey();
    return RegistryKey(m_file, std::string(path));
}

bool KeyStore::deleteKey(std::string_view path) const
{
    std::optional<KeyTree> tree = load(*this);
    return tree && tree->removeKey(path) && save(*this, *tree);
}

KeyStore ClassesRoot()
{
    return KeyStore(UserDataFolder() + "tlgview/classes.reg");
}

std::string RegistryKey::readString(std::string_view valueName) const
{
    if (!m_open)
        return std::string();
    const std::optional<KeyTree> tree = load(KeyStore(m_file));
    return tree ? tree->value(m_path, valueName) : std::string();
}

void RegistryKey::writeString(std::string_view valueName, std::string_view data) const
{
    const Failure failure("Failed to set data for '" + std::string(valueName) + "'");
    if (!m_open)
        throw failure;
    const KeyStore store(m_file);
    std::optional<KeyTree> tree = load(store);
    bool changed = false;
    if (!tree || !tree->setValue(m_path, valueName, data, &changed))
        throw failure;
    if (changed && !save(store, *tree))
        throw failure;
}

std::vector<std::string> RegistryKey::subkeyNames() const
{
    if (!m_open)
        return {};
    const std::optional<KeyTree> tree = load(KeyStore(m_file));
    return tree ? tree->subkeyNames(m_path) : std::vector<std::string>();
}

void RegistryKey::close()
{
    m_open = false;
    m_file.clear();
    m_path.clear();
}

} // namespace tlg
