#pragma once
// Registry accessor for one load or save: ANSI functions, full access, one
// open key at a time.
#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/handles.h"
#include "framework/sysutils.h"

namespace fw {

class ERegistryException : public Exception {
    using Exception::Exception;
};

class TRegistry {
public:
    explicit TRegistry(HKEY root = HKEY_CURRENT_USER) : root_(root) {}
    ~TRegistry() { CloseKey(); }
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    REGSAM Access = KEY_ALL_ACCESS;

    // Whether the key can be opened with full access.
    bool KeyExists(const std::string& path) const;
    // Deletes a key without subkeys; true when it is gone (also when it never existed).
    bool DeleteKey(const std::string& path);
    // Opens the key (creating it, non-volatile, when asked); false on failure.
    bool OpenKey(const std::string& path, bool canCreate);
    void CloseKey() { key_.reset(); }
    // The open key, for the calls this class does not wrap (copying a value as stored).
    HKEY Key() const { return key_.get(); }

    bool ValueExists(const std::string& name) const;
    // A REG_SZ or REG_EXPAND_SZ value, cut at its first zero byte and not
    // expanded, with or without a stored terminating zero; a missing or
    // empty value reads as "". Other types raise
    // "Invalid data type for '%s'".
    std::string ReadString(const std::string& name) const;
    // A REG_DWORD value. Other types raise "Invalid data type for '%s'";
    // a missing value or one longer than 4 bytes "Failed to get data for '%s'".
    std::int32_t ReadInteger(const std::string& name) const;
    // REG_SZ holding the text's bytes and its terminating zero.
    void WriteString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, std::int32_t value);
    // A REG_BINARY value; other types raise "Invalid data type for '%s'". A
    // value larger than `maxSize` raises "Failed to get data for '%s'".
    std::string ReadBinaryData(const std::string& name, std::size_t maxSize = 65536) const;
    void WriteBinaryData(const std::string& name, const std::string& value);
    // True when the value is gone afterwards (also when it never existed).
    bool DeleteValue(const std::string& name);

private:
    HKEY root_;
    UniqueKey key_;
};

}  // namespace fw
