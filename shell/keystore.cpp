#include "shell/keystore.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "shell/xdgdirs.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <sys/stat.h>

namespace tlg {

namespace {

struct Value
{
    std::string name;
    std::string data;
};

struct Key
{
    std::string name;
    std::vector<Value> values;
    std::vector<Key> subkeys;
};

constexpr std::string_view kFileHeader =
    "; Log Viewer: the user's file types, kept as HKEY_CLASSES_ROOT keeps them.\n";

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return upperAscii(x) == upperAscii(y);
           });
}

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// The names of a key path; empty when the path is not valid.
std::vector<std::string> splitPath(std::string_view path)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        const std::string_view name = path.substr(start, end - start);
        if (name.empty() || std::any_of(name.begin(), name.end(), isControl))
            return {};
        names.emplace_back(name);
        if (end == path.size())
            return names;
        start = end + 1;
    }
}

Key* findChild(Key& key, std::string_view name)
{
    for (Key& child : key.subkeys) {
        if (sameName(child.name, name))
            return &child;
    }
    return nullptr;
}

// The key at the path, created with its parents when `create` (then `created` tells whether
// anything was added); null when missing.
Key* findKey(Key& root, const std::vector<std::string>& names, bool create, bool* created = nullptr)
{
    Key* key = &root;
    for (const std::string& name : names) {
        Key* child = findChild(*key, name);
        if (!child) {
            if (!create)
                return nullptr;
            key->subkeys.push_back(Key{name, {}, {}});
            child = &key->subkeys.back();
            if (created)
                *created = true;
        }
        key = child;
    }
    return key;
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

void setValue(Key& key, std::string_view name, std::string_view data)
{
    for (Value& value : key.values) {
        if (sameName(value.name, name)) {
            value.data = data;
            return;
        }
    }
    key.values.push_back(Value{std::string(name), std::string(data)});
}

bool parse(std::string_view text, Key& root)
{
    Key* current = nullptr;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos || line[0] == ';')
            continue;

        if (line.front() == '[' && line.back() == ']') {
            const std::vector<std::string> names = splitPath(line.substr(1, line.size() - 2));
            if (names.empty())
                return false;
            current = findKey(root, names, true);
            continue;
        }
        if (!current)
            return false;
        std::size_t at = 0;
        std::optional<std::string> name;
        if (line[0] == '@') {
            name = std::string();
            at = 1;
        } else {
            name = readQuoted(line, at);
        }
        if (!name || at >= line.size() || line[at] != '=')
            return false;
        ++at;
        const std::optional<std::string> data = readQuoted(line, at);
        if (!data || at != line.size())
            return false;
        setValue(*current, *name, *data);
    }
    return true;
}

void serialize(const Key& key, const std::string& path, std::string& out)
{
    if (!path.empty()) {
        out += "\n[" + path + "]\n";
        for (const Value& value : key.values) {
            if (value.name.empty())
                out += '@';
            else
                appendQuoted(out, value.name);
            out += '=';
            appendQuoted(out, value.data);
            out += '\n';
        }
    }
    for (const Key& child : key.subkeys)
        serialize(child, path.empty() ? child.name : path + "\\" + child.name, out);
}

// The tree in the file: an empty tree when there is no file; nothing when the file cannot be
// read or does not parse, so that it is never overwritten with less than it holds.
std::optional<Key> load(const std::string& file)
{
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return errno == ENOENT ? std::optional<Key>(Key{}) : std::nullopt;
    Key root;
    try {
        if (!parse(ReadWholeFile(file), root))
            return std::nullopt;
    } catch (const Failure&) {
        return std::nullopt;
    }
    return root;
}

bool save(const std::string& file, const Key& root)
{
    std::string text(kFileHeader);
    serialize(root, std::string(), text);
    const std::size_t slash = file.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(file.substr(0, slash + 1)))
        return false;
    try {
        WriteFileAtomically(file, text);
    } catch (const Failure&) {
        return false;
    }
    return true;
}

} // namespace

RegistryKey KeyStore::openKey(std::string_view path, bool create) const
{
    const std::vector<std::string> names = splitPath(path);
    if (names.empty())
        return RegistryKey();
    std::optional<Key> root = load(m_file);
    if (!root)
        return RegistryKey();
    bool created = false;
    if (!findKey(*root, names, create, &created))
        return RegistryKey();
    if (created && !save(m_file, *root))
        return RegistryKey();
    return RegistryKey(m_file, std::string(path));
}

bool KeyStore::deleteKey(std::string_view path) const
{
    std::vector<std::string> names = splitPath(path);
    if (names.empty())
        return false;
    std::optional<Key> root = load(m_file);
    if (!root)
        return false;
    const std::string name = names.back();
    names.pop_back();
    Key* parent = findKey(*root, names, false);
    if (!parent)
        return false;
    const auto child = std::find_if(parent->subkeys.begin(), parent->subkeys.end(),
                                    [&name](const Key& key) { return sameName(key.name, name); });
    if (child == parent->subkeys.end())
        return false;
    parent->subkeys.erase(child);
    return save(m_file, *root);
}

KeyStore ClassesRoot()
{
    return KeyStore(UserDataFolder() + "tlgview/classes.reg");
}

std::string RegistryKey::readString(std::string_view valueName) const
{
    if (!m_open)
        return std::string();
    std::optional<Key> root = load(m_file);
    const Key* key = root ? findKey(*root, splitPath(m_path), false) : nullptr;
    if (!key)
        return std::string();
    for (const Value& value : key->values) {
        if (sameName(value.name, valueName))
            return value.data;
    }
    return std::string();
}

void RegistryKey::writeString(std::string_view valueName, std::string_view data) const
{
    const Failure failure("Failed to set data for '" + std::string(valueName) + "'");
    if (!m_open)
        throw failure;
    std::optional<Key> root = load(m_file);
    Key* key = root ? findKey(*root, splitPath(m_path), false) : nullptr;
    if (!key)
        throw failure;
    const auto existing = std::find_if(key->values.begin(), key->values.end(),
                                       [&](const Value& v) { return sameName(v.name, valueName); });
    if (existing != key->values.end() && existing->data == data)
        return;
    setValue(*key, valueName, data);
    if (!save(m_file, *root))
        throw failure;
}

std::vector<std::string> RegistryKey::subkeyNames() const
{
    std::vector<std::string> names;
    if (!m_open)
        return names;
    std::optional<Key> root = load(m_file);
    const Key* key = root ? findKey(*root, splitPath(m_path), false) : nullptr;
    if (key) {
        for (const Key& child : key->subkeys)
            names.push_back(child.name);
    }
    return names;
}

void RegistryKey::close()
{
    m_open = false;
    m_file.clear();
    m_path.clear();
}

} // namespace tlg
