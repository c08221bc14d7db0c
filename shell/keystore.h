#pragma once

// The user's file-type keys, kept the way the Windows registry keeps HKEY_CLASSES_ROOT: a tree
// of keys, each with string values, the unnamed one being the key's default value. Key paths
// separate names with '\'. Key and value names compare without regard to the letter case of
// a to z; a key keeps the spelling it was created with. As in the registry, keys nest at most
// kMaxKeyDepth levels deep.
//
// The tree lives in one text file, read afresh for every operation and replaced atomically by
// every change, so that a change stands on disk as soon as the call returns. A missing file
// is an empty tree. A file that cannot be read or is not in the store's format is left
// alone: no key opens, and nothing can be created or written.
//
// Reading and writing take time in proportion to the file's size, whatever the shape of the
// tree: nothing recurses, and a key is found through an index rather than a search.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tlg {

class RegistryKey;

inline constexpr std::size_t kMaxKeyDepth = 512;

// A whole tree of keys in memory, as one operation on a store reads, changes and writes it.
class KeyTree
{
public:
    KeyTree();

    // The tree that a store's text holds. Throws Failure with the reason ("line 7 is not in
    // the store's format", "line 2 nests keys deeper than 512 levels") when the text is not a
    // store.
    static KeyTree parse(std::string_view text);
    // The store's text of the tree; parse() of it gives the same tree. A key is written with
    // its path when it has values or no subkeys; the keys above it come with that path.
    std::string text() const;

    // Whether the key at path is there; false for a path that is not valid (empty, an empty
    // name, a control character, deeper than kMaxKeyDepth).
    bool hasKey(std::string_view path) const;
    // The value of that name ("" for the default value); empty when it or the key is missing.
    std::string value(std::string_view path, std::string_view valueName) const;
    // The names of the key's direct subkeys in the order they were created.
    std::vector<std::string> subkeyNames(std::string_view path) const;

    // Creates the key with its missing parents. False when the path is not valid; `created`
    // tells whether anything was added.
    bool createKey(std::string_view path, bool* created = nullptr);
    // Sets the value, creating it; false when the key is missing. `changed` tells whether the
    // data differed.
    bool setValue(std::string_view path, std::string_view valueName, std::string_view data,
                  bool* changed = nullptr);
    // Deletes the key with everything beneath it; false when it was not there.
    bool removeKey(std::string_view path);

private:
    using NodeId = std::uint32_t;
    static constexpr NodeId kNoNode = ~NodeId(0);
    struct Value
    {
        std::string name;
        std::string data;
    };
    struct Node
    {
        std::string name;
        std::vector<Value> values;
        std::vector<NodeId> children; // in the order they were created
    };

    NodeId find(std::string_view path) const;
    NodeId child(NodeId parent, std::string_view name) const;
    NodeId addChild(NodeId parent, std::string_view name);
    Value* findValue(NodeId node, std::string_view valueName);
    void putValue(NodeId node, std::string_view valueName, std::string_view data);

    std::vector<Node> m_nodes; // m_nodes[0] is the root; removed keys stay, unreachable
    // (parent, upper-cased name) -> child, so that a key among many siblings is found at once.
    std::unordered_map<std::string, NodeId> m_index;
    // (key, upper-cased value name) -> the value's place in its key's values.
    std::unordered_map<std::string, std::size_t> m_valueIndex;
};

class KeyStore
{
public:
    explicit KeyStore(std::string file) : m_file(std::move(file)) {}

    const std::string& file() const { return m_file; }

    // The tree in the store; an empty tree when the file is missing. Throws Failure ("The
    // association store <file> cannot be used: <why>; it is left as it is") when it cannot
    // be read (no regular file, larger than kSettingsFileLimit, unreadable) or is not in the
    // store's format.
    KeyTree read() const;
    // Replaces the store with the tree, making its folder. Throws Failure("Cannot create file
    // <file>") when it cannot be written; the old file then stays.
    void write(const KeyTree& tree) const;

    // Opens the key at path, or with `create` creates it with any missing parents first.
    // The returned key is not open when the key is missing (without `create`), when the path
    // is not a valid key path (empty, an empty name, a control character), or when the store
    // cannot be read or written.
    RegistryKey openKey(std::string_view path, bool create) const;

    // Deletes the key at path with everything beneath it. False when it was not there or the
    // store could not be written.
    bool deleteKey(std::string_view path) const;

private:
    std::string m_file;
};

// HKEY_CLASSES_ROOT of this user: the store in $XDG_DATA_HOME/tlgview/classes.reg (by default
// ~/.local/share/tlgview/classes.reg). The folder is made when the first key is written.
KeyStore ClassesRoot();

// An open key of a store, or a key that is not open. Closing a key (or dropping it) only
// forgets it: every change is already stored.
class RegistryKey
{
public:
    RegistryKey() = default;

    bool isOpen() const { return m_open; }
    // The key's path as it was opened; empty when not open.
    const std::string& path() const { return m_path; }

    // The value of that name ("" for the default value); empty when the value or the key is
    // missing.
    std::string readString(std::string_view valueName = {}) const;

    // Sets the value of that name ("" for the default value), creating the value when
    // missing. Throws Failure("Failed to set data for '<valueName>'") when the key is not
    // open, was deleted meanwhile, or the store cannot be written.
    void writeString(std::string_view valueName, std::string_view data) const;

    // The names of the key's direct subkeys in the order they were created; empty when none.
    std::vector<std::string> subkeyNames() const;
    bool hasSubkeys() const { return !subkeyNames().empty(); }

    void close();

private:
    friend class KeyStore;
    RegistryKey(std::string file, std::string path)
        : m_open(true), m_file(std::move(file)), m_path(std::move(path))
    {
    }

    bool m_open = false;
    std::string m_file; // the store's file
    std::string m_path;
};

} // namespace tlg
