#pragma once

namespace hanamail {

class DataBuffer;
class StringBuffer;

// Entry names as they go into the archive.
class ZipEntryName {
public:
    // The name as a relative path that cannot leave the folder it is
    // extracted into: backslashes become "/", a leading drive prefix ("C:")
    // goes, and empty, "." and ".." segments are removed. Other directory
    // parts stay. out is replaced.
    static void makeSafe(const char* utf8, StringBuffer& out);

    // Keeps the last segment only.
    static void dropDirectories(StringBuffer& name);

    // The bytes stored for a UTF-8 name: its form in the archive's filename
    // code page when that form reads back as the same name; otherwise the
    // name in strict UTF-8, with utf8Flag set (general purpose flag bit 11);
    // a name that is not UTF-8 at all is kept as it is, unflagged. out is
    // replaced. False only when out cannot hold the name.
    static bool encode(const StringBuffer& utf8, int codePage, DataBuffer& out, bool& utf8Flag);
};

}  // namespace hanamail
