// The automation object through its vtable, as a client bound to IHanamail
// calls it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "component/ClsEmail.h"
#include "component/Hanamail.h"
#include "component/ModuleState.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/TypeLibrary.h"

namespace hanamail {
namespace {

namespace fs = std::filesystem;

// A BSTR made from UTF-8, freed at the end of the scope.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const char* utf8)
    {
        XString s;
        s.setFromUtf8(utf8);
        m_b = s.getBstr();
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(m_b); }
    operator BSTR() const { return m_b; }
    BSTR* out()
    {
        SysFreeString(m_b);
        m_b = nullptr;
        return &m_b;
    }
    bool isNull() const { return m_b == nullptr; }
    std::string utf8() const
    {
        XString s;
        s.setFromBstr(m_b);
        return s.getUtf8();
    }

private:
    BSTR m_b = nullptr;
};

class Object {
public:
    Object() { EXPECT_EQ(Hanamail::create(IID_IHanamail, reinterpret_cast<void**>(&m_p)), S_OK); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ~Object()
    {
        if (m_p) m_p->Release();
    }
    IHanamail* operator->() const { return m_p; }
    IHanamail* get() const { return m_p; }

    std::string errorInfo()
    {
        Bstr text;
        EXPECT_EQ(m_p->get_ErrorInfo(text.out()), S_OK);
        return text.utf8();
    }
    std::string mime()
    {
        Bstr text;
        EXPECT_EQ(m_p->ExportToMime(text.out()), S_OK);
        return text.utf8();
    }

private:
    IHanamail* m_p = nullptr;
};

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path tempFile(const char* name)
{
    return fs::temp_directory_path() / (std::string("hanamail_object_") + name);
}

XString xs(const char* utf8)
{
    XString s;
    s.setFromUtf8(utf8);
    return s;
}

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

TEST(HanamailObject, InterfacesReferencesAndModuleCount)
{
    const int32_t before = ModuleState::liveObjects();
    IUnknown* unknown = nullptr;
    ASSERT_EQ(Hanamail::create(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(ModuleState::liveObjects(), before + 1);

    IHanamail* mail = nullptr;
    IDispatch* dispatch = nullptr;
    ISupportErrorInfo* errors = nullptr;
    EXPECT_EQ(unknown->QueryInterface(IID_IHanamail, reinterpret_cast<void**>(&mail)), S_OK);
    EXPECT_EQ(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(unknown->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errors)), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(mail));

    // One identity: IUnknown asked of any interface is the same pointer.
    IUnknown* again = nullptr;
    EXPECT_EQ(errors->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, unknown);
    again->Release();

    void* other = reinterpret_cast<void*>(1);
    const IID unknownIid = {0x12345678, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(unknown->QueryInterface(unknownIid, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(unknown->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IHanamail), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

    // Type information comes from a registered type library: elsewhere
    // than on Windows there is none to have.
    UINT count = 7;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, platform::hasTypeLibraries() ? 1u : 0u);
    const HRESULT invoked = dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(FAILED(invoked));
    if (!platform::hasTypeLibraries()) {
        EXPECT_EQ(invoked, E_NOTIMPL);
    }
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    const HRESULT got = dispatch->GetTypeInfo(0, 0, &info);
    if (platform::hasTypeLibraries()) {
        // (a prefix where the DLL was registered has the library)
        EXPECT_EQ(SUCCEEDED(got), info != nullptr);
        platform::releaseTypeInfo(info);
    } else {
        EXPECT_EQ(got, E_NOTIMPL);
        EXPECT_EQ(info, nullptr);
    }

    errors->Release();
    dispatch->Release();
    mail->Release();
    EXPECT_EQ(ModuleState::liveObjects(), before + 1);
    EXPECT_EQ(unknown->Release(), 0u);
    EXPECT_EQ(ModuleState::liveObjects(), before);
}

// An outer object that aggregates the object: it answers IUnknown itself
// and hands everything else to the inner unknown, counting what reaches it.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        ++queries;
        if (IsEqualGUID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    IUnknown* inner = nullptr;
    ULONG refs = 1;
    int queries = 0;
};

TEST(HanamailObject, AggregatedObjectDelegatesToItsOuterUnknown)
{
    Outer outer;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(Hanamail::create(&outer, IID_IDispatch, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(Hanamail::create(&outer, IID_IUnknown, nullptr), E_POINTER);

    const int32_t before = ModuleState::liveObjects();
    ASSERT_EQ(Hanamail::create(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_EQ(ModuleState::liveObjects(), before + 1);
    EXPECT_EQ(outer.refs, 1u);  // the inner unknown's reference is the outer's own

    IHanamail* mail = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IHanamail, reinterpret_cast<void**>(&mail)), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // an interface of the inner object holds the outer one
    const int queries = outer.queries;

    // Every IUnknown call of the inner object's interfaces goes to the outer unknown.
    IUnknown* identity = nullptr;
    EXPECT_EQ(mail->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    EXPECT_EQ(outer.queries, queries + 1);
    identity->Release();
    ISupportErrorInfo* errors = nullptr;
    EXPECT_EQ(mail->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errors)), S_OK);
    EXPECT_EQ(outer.queries, queries + 2);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IHanamail), S_OK);
    errors->Release();
    mail->AddRef();
    EXPECT_EQ(outer.refs, 3u);
    mail->Release();
    mail->Release();
    EXPECT_EQ(outer.refs, 1u);

    // The object works as usual and goes when the outer object lets go of it.
    Bstr host;
    EXPECT_EQ(outer.QueryInterface(IID_IHanamail, reinterpret_cast<void**>(&mail)), S_OK);
    EXPECT_EQ(mail->get_SmtpHost(host.out()), S_OK);
    EXPECT_EQ(host.utf8(), "localhost");
    mail->Release();
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(ModuleState::liveObjects(), before);
}

TEST(HanamailObject, ErrorInfoFollowsTheFlag)
{
    Object o;
    LONG ok = 7;
    EXPECT_EQ(o->put_SmtpHost(Bstr("127.0.0.1")), S_OK);
    EXPECT_EQ(o->SendMail(&ok), S_OK);  // nobody listens on port 25 here
    EXPECT_EQ(ok, 0);
    const std::string sendLog = o.errorInfo();
    EXPECT_TRUE(contains(sendLog, "Failed to connect to SMTP server.")) << sendLog;
    EXPECT_TRUE(contains(sendLog, "\r\n"));

    EXPECT_EQ(o->AddRecipient(Bstr("To"), Bstr("Ann"), Bstr("ann@example.com")), S_OK);
    EXPECT_EQ(o.errorInfo(), "name: Ann\r\naddress: ann@example.com\r\n");
    // Reading a setting goes to the mail manager: its log is shown again.
    Bstr host;
    EXPECT_EQ(o->get_SmtpHost(host.out()), S_OK);
    EXPECT_EQ(host.utf8(), "127.0.0.1");
    EXPECT_EQ(o.errorInfo(), sendLog);
    // The send happens also without a place for its result.
    EXPECT_EQ(o->SendMail(nullptr), S_OK);
    EXPECT_TRUE(contains(o.errorInfo(), "Failed to connect to SMTP server."));
    EXPECT_EQ(o->get_ErrorInfo(nullptr), S_OK);
}

TEST(HanamailObject, RecipientTypes)
{
    Object o;
    EXPECT_EQ(o->AddRecipient(Bstr("CC"), Bstr("  Ann "), Bstr("")), S_OK);
    EXPECT_EQ(o.errorInfo(), "name: Ann\r\naddress: \r\nNo Email Address was provided\r\n");

    EXPECT_EQ(o->AddRecipient(Bstr("bcc"), Bstr("Hidden"), Bstr("hidden@example.com")), S_OK);
    const std::string bccLog = o.errorInfo();
    EXPECT_EQ(bccLog, "name: Hidden\r\naddress: hidden@example.com\r\n");
    EXPECT_EQ(o->AddRecipient(Bstr("tO"), Bstr(""), Bstr("to@example.com")), S_OK);
    EXPECT_EQ(o->AddRecipient(Bstr("cc"), Bstr(""), Bstr("cc@example.com")), S_OK);
    const std::string before = o.mime();
    EXPECT_TRUE(contains(before, "To: to@example.com"));
    EXPECT_TRUE(contains(before, "CC: cc@example.com") || contains(before, "Cc: cc@example.com")) << before;

    // Any other type changes nothing and logs nothing. ExportToMime wrote its
    // own log, so look at the log of a recipient call first.
    EXPECT_EQ(o->AddRecipient(Bstr("Bcc"), Bstr("Hidden"), Bstr("hidden@example.com")), S_OK);
    EXPECT_EQ(o->AddRecipient(Bstr("Reply"), Bstr("X"), Bstr("x@example.com")), S_OK);
    EXPECT_EQ(o->AddRecipient(nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(o.errorInfo(), bccLog);
    const std::string after = o.mime();
    EXPECT_FALSE(contains(after, "x@example.com"));

    // The Bcc went to the list (the XML form carries it), not into the text.
    EXPECT_FALSE(contains(after, "hidden@example.com"));
    Bstr xml;
    EXPECT_EQ(o->ExportToXML(xml.out()), S_OK);
    EXPECT_TRUE(contains(xml.utf8(), "hidden@example.com")) << xml.utf8();
}

TEST(HanamailObject, BodiesBecomeAlternativesOrStayAlone)
{
    Object both;
    EXPECT_EQ(both->SetPlainTextBody(Bstr("Hello")), S_OK);
    EXPECT_EQ(both->SetHtmlBody(Bstr("<p>Hello</p>")), S_OK);
    const std::string m = both.mime();
    EXPECT_TRUE(contains(m, "multipart/alternative")) << m;
    EXPECT_TRUE(contains(m, "text/plain"));
    EXPECT_TRUE(contains(m, "text/html"));

    Object reverse;
    EXPECT_EQ(reverse->SetHtmlBody(Bstr("<p>Hi</p>")), S_OK);
    EXPECT_EQ(reverse->SetPlainTextBody(Bstr("Hi")), S_OK);
    EXPECT_TRUE(contains(reverse.mime(), "multipart/alternative"));

    // A new email's empty text/plain entity is no plain-text body to keep.
    Object htmlOnly;
    EXPECT_EQ(htmlOnly->SetHtmlBody(Bstr("<p>Only</p>")), S_OK);
    const std::string h = htmlOnly.mime();
    EXPECT_FALSE(contains(h, "multipart")) << h;
    EXPECT_FALSE(contains(h, "text/plain")) << h;
    EXPECT_TRUE(contains(h, "Content-Type: text/html")) << h;

    // An explicitly empty plain body is still just the new email's body.
    Object emptyPlain;
    EXPECT_EQ(emptyPlain->SetPlainTextBody(Bstr("")), S_OK);
    EXPECT_EQ(emptyPlain->SetHtmlBody(Bstr("<p>x</p>")), S_OK);
    EXPECT_FALSE(contains(emptyPlain.mime(), "multipart"));
}

TEST(HanamailObject, FilesThroughTheObject)
{
    Object o;
    Bstr missing;
    EXPECT_EQ(o->ReadFile(Bstr(tempFile("missing.txt").string().c_str()), Bstr("utf-8"), missing.out()), S_OK);
    EXPECT_TRUE(missing.isNull());

    const fs::path path = tempFile("sjis.txt");
    LONG ok = 0;
    EXPECT_EQ(o->WriteFile(Bstr(path.string().c_str()), Bstr("shift_jis"), Bstr("\xe6\x97\xa5\xe6\x9c\xac"), &ok),
              S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(readAll(path), "\x93\xfa\x96\x7b");
    Bstr back;
    EXPECT_EQ(o->ReadFile(Bstr(path.string().c_str()), Bstr("shift_jis"), back.out()), S_OK);
    EXPECT_EQ(back.utf8(), "\xe6\x97\xa5\xe6\x9c\xac");

    // The file object's log is gone with it: ErrorInfo shows the email's.
    EXPECT_EQ(o->AddRecipient(Bstr("To"), Bstr(""), Bstr("a@example.com")), S_OK);
    EXPECT_EQ(o->ReadFile(Bstr(tempFile("missing.txt").string().c_str()), Bstr(""), missing.out()), S_OK);
    EXPECT_EQ(o.errorInfo(), "name: \r\naddress: a@example.com\r\n");
    std::error_code ignored;
    fs::remove(path, ignored);
}

TEST(HanamailObject, NullOutPointersRunTheOperation)
{
    Object o;
    const fs::path attachment = tempFile("attach.bin");
    {
        std::ofstream out(attachment, std::ios::binary);
        out << "payload";
    }
    EXPECT_EQ(o->AddFileAttachment(Bstr(attachment.string().c_str()), nullptr), S_OK);
    EXPECT_TRUE(contains(o.mime(), "attach.bin"));

    EXPECT_EQ(o->ExportToMime(nullptr), S_OK);
    EXPECT_EQ(o->ExportToXML(nullptr), S_OK);
    EXPECT_EQ(o->put_Charset(Bstr("iso-2022-jp")), S_OK);
    EXPECT_EQ(o->get_Charset(nullptr), S_OK);
    Bstr charset;
    EXPECT_EQ(o->get_Charset(charset.out()), S_OK);
    EXPECT_EQ(charset.utf8(), "iso-2022-jp");

    EXPECT_EQ(o->ReadFile(Bstr(attachment.string().c_str()), Bstr("utf-8"), nullptr), S_OK);
    const fs::path written = tempFile("written.txt");
    EXPECT_EQ(o->WriteFile(Bstr(written.string().c_str()), Bstr("utf-8"), Bstr("text"), nullptr), S_OK);
    EXPECT_EQ(readAll(written), "text");
    // A page captured whole, with no place for the result.
    const fs::path page = tempFile("page.htm");
    {
        std::ofstream out(page, std::ios::binary);
        out << "<html><body><p>captured</p></body></html>";
    }
    EXPECT_EQ(o->LoadHtmlComplete(Bstr(page.string().c_str()), nullptr), S_OK);
    EXPECT_TRUE(contains(o.mime(), "captured"));
    LONG ok = 7;
    EXPECT_EQ(o->LoadHtmlComplete(Bstr(tempFile("no-page.htm").string().c_str()), &ok), S_OK);
    EXPECT_EQ(ok, 0);
    EXPECT_TRUE(contains(o.mime(), "captured"));
    EXPECT_EQ(o->LoadHtmlComplete(nullptr, &ok), S_OK);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(o->get_SmtpHost(nullptr), S_OK);
    EXPECT_EQ(o->get_SmtpLogin(nullptr), S_OK);
    EXPECT_EQ(o->get_SmtpPassword(nullptr), S_OK);
    std::error_code ignored;
    fs::remove(attachment, ignored);
    fs::remove(written, ignored);
    fs::remove(page, ignored);
}

TEST(HanamailObject, ExportToMimeFileKeepsEightBitBytes)
{
    const char* fields[][2] = {{"Date", "Tue, 01 Dec 2026 10:00:00 +0000"},
                               {"Message-ID", "<fixed@example.com>"},
                               {"Subject", "accents"},
                               {"Content-Transfer-Encoding", "8bit"}};
    const char* body = "caf\xc3\xa9 cr\xc3\xa8me";
    Object o;
    EXPECT_EQ(o->put_Charset(Bstr("iso-8859-1")), S_OK);
    ClsEmail reference;
    reference.SetCharset(xs("iso-8859-1"));
    EXPECT_EQ(o->SetPlainTextBody(Bstr(body)), S_OK);
    reference.SetPlainBody(xs(body));
    // (The transfer encoding after the body, which chooses its own.)
    for (const auto& f : fields) {
        EXPECT_EQ(o->AddHeaderField(Bstr(f[0]), Bstr(f[1])), S_OK);
        reference.AddHeaderField(xs(f[0]), xs(f[1]));
    }

    const fs::path path = tempFile("eight.eml");
    EXPECT_EQ(o->ExportToMimeFile(Bstr(path.string().c_str())), S_OK);
    const std::string written = readAll(path);
    EXPECT_TRUE(contains(written, "\r\n\r\ncaf\xe9 cr\xe8me")) << written;

    const fs::path saved = tempFile("eight-ref.eml");
    ASSERT_TRUE(reference.SaveEml(xs(saved.string().c_str())));
    EXPECT_EQ(written, readAll(saved));
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::remove(saved, ignored);
}

TEST(HanamailObject, DataAndStringAttachments)
{
    Object o;
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 3);
    ASSERT_NE(bytes, nullptr);
    static const unsigned char kBytes[3] = {0x00, 0xff, 0x10};
    for (int i = 0; i < 3; ++i) static_cast<unsigned char*>(bytes->pvData)[i] = kBytes[i];
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = bytes;
    EXPECT_EQ(o->AddDataAttachment(Bstr(" data.bin "), v), S_OK);
    VariantClear(&v);
    EXPECT_EQ(o->AddStringAttachment(Bstr("note.txt"), Bstr("\xe6\x97\xa5")), S_OK);
    EXPECT_EQ(o->ZipAttachments(Bstr("")), S_OK);
    const std::string m = o.mime();
    EXPECT_TRUE(contains(m, "attach.zip")) << m;
    EXPECT_FALSE(contains(m, "note.txt"));

    Bstr xml;
    EXPECT_EQ(o->ExportToXML(xml.out()), S_OK);
    Object copy;
    EXPECT_EQ(copy->ImportFromXML(xml), S_OK);
    EXPECT_TRUE(contains(copy.mime(), "attach.zip"));
}

}  // namespace
}  // namespace hanamail
