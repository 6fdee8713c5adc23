#pragma once
#include <string>
#include <vector>

namespace hanamail {

// Addresses read from a text file, one a line; the sender delivers to them
// instead of the email's own recipients when the list is not empty.
class DistributionList {
public:
    // Clears the list, remembers the path and reads the file: lines without
    // "@" are skipped. Returns the number of addresses added, -1 when the
    // file cannot be read.
    int LoadFromFile(const char* path);
    // Case ignored.
    bool Contains(const char* address) const;
    // Trimmed; false for text without "@" and for an address already listed.
    bool AddAddress(const char* text);
    int Count() const { return static_cast<int>(m_addresses.size()); }
    // Empty out of range.
    const std::string& GetAddress(int i) const;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::vector<std::string> m_addresses;
};

}  // namespace hanamail
