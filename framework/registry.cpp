#include "framework/registry.h"

#include <algorithm>
#include <vector>

namespace fw {

namespace {
[[noreturn]] void fail(const char* pattern, const std::string& name) {
    throw ERegistryException(FormatStr(pattern, name));
}
}  // namespace

bool TRegistry::KeyExists(const std::string& path) const {
    UniqueKey k;
    return RegOpenKeyExA(root_, path.c_str(), 0, Access, k.put()) == ERROR_SUCCESS;
}

bool TRegistry::DeleteKey(const std::string& path) {
    const LONG rc = RegDeleteKeyA(root_, path.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool TRegistry::OpenKey(const std::string& path, bool canCreate) {
    CloseKey();
    DWORD disposition = 0;
    const LONG rc = canCreate ? RegCreateKeyExA(root_, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, Access,
                                                nullptr, key_.put(), &disposition)
                              : RegOpenKeyExA(root_, path.c_str(), 0, Access, key_.put());
    return rc == ERROR_SUCCESS;
}

bool TRegistry::ValueExists(const std::string& name) const {
    if (!key_) return false;
    return RegQueryValueExA(key_.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string TRegistry::ReadString(const std::string& name) const {
    DWORD type = 0, size = 0;
    if (!key_ || RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return "";
    if (type != REG_SZ && type != REG_EXPAND_SZ) fail("Invalid data type for '%s'", name);
    if (size == 0) return "";
    std::vector<char> data(size + 1, '\0');
    DWORD got = size;
    if (RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got) !=
        ERROR_SUCCESS)
        fail("Failed to get data for '%s'", name);
    if (type != REG_SZ && type != REG_EXPAND_SZ) fail("Invalid data type for '%s'", name);
    data[std::min<std::size_t>(got, size)] = '\0';
    return std::string(data.data());
}

std::int32_t TRegistry::ReadInteger(const std::string& name) const {
    DWORD type = 0, size = 0;
    if (!key_ || RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        fail("Failed to get data for '%s'", name);
    if (type != REG_DWORD) fail("Invalid data type for '%s'", name);
    if (size > 4) fail("Failed to get data for '%s'", name);
    DWORD value = 0, got = sizeof value;
    if (RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &got) !=
        ERROR_SUCCESS)
        fail("Failed to get data for '%s'", name);
    return static_cast<std::int32_t>(value);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    // RegSetValueExA wants the terminating zero counted in a REG_SZ's size:
    // readers that trust the stored size would otherwise run past the text.
    if (!key_ || RegSetValueExA(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
        fail("Failed to set data for '%s'", name);
}

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
    DWORD v = static_cast<DWORD>(value);
    if (!key_ || RegSetValueExA(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) !=
                     ERROR_SUCCESS)
        fail("Failed to set data for '%s'", name);
}

std::string TRegistry::ReadBinaryData(const std::string& name, std::size_t maxSize) const {
    DWORD type = 0, size = 0;
    if (!key_ || RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        fail("Failed to get data for '%s'", name);
    if (type != REG_BINARY) fail("Invalid data type for '%s'", name);
    if (size > maxSize) fail("Failed to get data for '%s'", name);
    std::string data(size, '\0');
    DWORD got = size;
    if (RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got) !=
            ERROR_SUCCESS ||
        type != REG_BINARY)
        fail("Failed to get data for '%s'", name);
    data.resize(std::min<std::size_t>(got, size));
    return data;
}

void TRegistry::WriteBinaryData(const std::string& name, const std::string& value) {
    if (!key_ || RegSetValueExA(key_.get(), name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(value.data()),
                                static_cast<DWORD>(value.size())) != ERROR_SUCCESS)
        fail("Failed to set data for '%s'", name);
}

bool TRegistry::DeleteValue(const std::string& name) {
    if (!key_) return false;
    const LONG rc = RegDeleteValueA(key_.get(), name.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace fw
