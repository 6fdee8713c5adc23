#pragma once
#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "foundation/TembrixObject.h"

namespace hanamail {

class Charset;
class MimeField;
class StringBuffer;

// The header of one MIME entity (also of an HTTP response): fields in order,
// names compared without regard to ASCII case, duplicates allowed.
class MimeHeader : public TembrixObject {
public:
    MimeHeader();
    MimeHeader(const MimeHeader&) = delete;
    MimeHeader& operator=(const MimeHeader&) = delete;
    ~MimeHeader() override;

    void Clear();
    // Parses the header part of MIME text (up to the first empty line): line
    // ends normalised, charset of the header detected, lines unfolded.
    void LoadFromMimeText(const char* text);
    void LoadFromMimeText(const char* text, int32_t n);

    // Takes ownership; null is ignored.
    void AddField(MimeField* field);
    // Removes every field of the name; a value that is not blank is then added at the end.
    void ReplaceField(const char* name, const char* value);
    void RemoveField(const char* name);
    // When the last field has the name, adds text to its value and gives true
    // (the field keeps its place: the same as replacing it with the longer value).
    bool AppendToLastField(const char* name, const char* text, int32_t n);
    bool HasField(const char* name) const;
    // Value of the first field of the name, appended to out; false (out untouched) when absent.
    bool GetFieldValue(const char* name, StringBuffer& out) const;
    // Value of one parameter ("charset" of "text/html; charset=utf-8"), without
    // its quotes and escapes, appended to out; false (out untouched) when absent.
    bool GetFieldParam(const char* name, const char* attribute, StringBuffer& out) const;
    int GetFieldCount() const { return m_fields.getSize(); }
    MimeField* GetFieldByIndex(int i) const;
    bool GetFieldName(int i, StringBuffer& out) const;
    void RemoveEmptyFields();

    void CopyFieldsFrom(const MimeHeader& other);
    // Adds the other's fields whose names are not here yet, leaving out the
    // ones that describe the other's own content and transport.
    void MergeFieldsFrom(const MimeHeader& other);
    void ReplaceFieldsFrom(const MimeHeader& other);

    // Appends the fields as header text without the final line end. Fields
    // whose names begin with excludedPrefix (null: none) are left out. The
    // charset is the given one, else the header's own.
    void WriteMime(StringBuffer& out, const char* excludedPrefix, const Charset& charset) const;
    // The same with the writer's folds removed.
    void WriteUnfolded(StringBuffer& out, const char* excludedPrefix, const Charset& charset) const;

    int EstimateSize() const { return GetFieldCount() * 60; }

    int headerCodePage() const { return m_codePage; }
    void setHeaderCodePage(int cp) { m_codePage = cp; }

    // Text of a parameter value: outer quotes dropped and the escapes of a
    // quoted value ('\"' and '\\') undone. Appends to out.
    static void unquoteParamValue(const char* value, int32_t n, StringBuffer& out);

private:
    void write(StringBuffer& out, const char* excludedPrefix, const Charset& charset, bool unfolded) const;
    void replaceWith(MimeField* field);
    static int detectCodePage(const char* header, int32_t n);

    int m_codePage;
    ExtPtrArray m_fields;
};

}  // namespace hanamail
