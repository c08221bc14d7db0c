#pragma once

// The user's file-type keys, kept the way the Windows registry keeps HKEY_CLASSES_ROOT: a tree
// of keys, each with string values, the unnamed one being the key's default value. Key paths
// separate names with '\'. Key and value names compare without regard to the letter case of
// a to z; a key keeps the spelling it was created with.
//
// The tree lives in one text file, read afresh for every operation and replaced atomically by
// every change, so that a change stands on disk as soon as the call returns. A missing file
// is an empty tree. A file that cannot be read or is not in the store's format is left
// alone: no key opens, and nothing can be created or written.

#include <string>
#include <string_view>
#include <vector>

namespace tlg {

class RegistryKey;

class KeyStore
{
public:
    explicit KeyStore(std::string file) : m_file(std::move(file)) {}

    const std::string& file() const { return m_file; }

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
