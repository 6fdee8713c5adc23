#include "mime/DistributionList.h"

#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

namespace {

std::string trimmed(const std::string& s)
{
    const char* blanks = " \t\r\n";
    const size_t a = s.find_first_not_of(blanks);
    if (a == std::string::npos) return std::string();
    const size_t b = s.find_last_not_of(blanks);
    return s.substr(a, b - a + 1);
}

}  // namespace

int DistributionList::LoadFromFile(const char* path)
{
    m_addresses.clear();
    m_path = path ? path : "";
    StringBuffer text;
    if (!path || !FileSys::loadFile(path, text, nullptr)) return -1;
    const std::string all(text.getString(), static_cast<size_t>(text.getSize()));
    int added = 0;
    size_t from = 0;
    while (from <= all.size()) {
        size_t end = all.find('\n', from);
        if (end == std::string::npos) end = all.size();
        // A line ending in CR (CR LF files) loses it with the trim.
        const std::string line = trimmed(all.substr(from, end - from));
        if (!line.empty() && AddAddress(line.c_str())) ++added;
        from = end + 1;
    }
    return added;
}

bool DistributionList::Contains(const char* address) const
{
    if (!address) return false;
    StringBuffer a(address);
    for (const std::string& s : m_addresses)
        if (a.equalsIgnoreCase(s.c_str())) return true;
    return false;
}

bool DistributionList::AddAddress(const char* text)
{
    const std::string a = trimmed(text ? text : "");
    if (a.find('@') == std::string::npos || Contains(a.c_str())) return false;
    m_addresses.push_back(a);
    return true;
}

const std::string& DistributionList::GetAddress(int i) const
{
    static const std::string kNone;
    return (i < 0 || i >= Count()) ? kNone : m_addresses[static_cast<size_t>(i)];
}

}  // namespace hanamail
