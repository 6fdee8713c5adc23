#include "mime/DistributionList.h"

#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeText.h"

namespace hanamail {

using mimetext::trimmed;

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
        const std::string line(trimmed(std::string_view(all).substr(from, end - from)));
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
    const std::string a(trimmed(text ? text : ""));
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
