#include "component/Hanamail.h"

#include <new>

#include "component/ClsFileSys.h"
#include "component/ModuleState.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/TypeLibrary.h"

namespace hanamail {

const IID IID_IHanamail = {0x8C47E2B9, 0x1F6A, 0x4D93, {0xB0, 0xE5, 0x5A, 0x2C, 0x9D, 0x7F, 0x3E, 0x61}};

namespace {

XString fromBstr(BSTR bstr)
{
    XString s;
    s.setFromBstr(bstr);
    return s;
}

// A null out-pointer is not written; the operation has run all the same.
void bstrOut(BSTR* out, const XString& text)
{
    if (out) *out = text.getBstr();
}

void boolOut(LONG* out, bool value)
{
    if (out) *out = value ? 1 : 0;
}

}  // namespace

Hanamail::Hanamail(IUnknown* outer) : m_controlling(outer ? outer : &m_inner)
{
    m_inner.owner = this;
    ModuleState::objectCreated();
}

Hanamail::~Hanamail()
{
    ModuleState::objectDestroyed();
}

HRESULT Hanamail::create(REFIID riid, void** ppv)
{
    return create(nullptr, riid, ppv);
}

HRESULT Hanamail::create(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualGUID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) Hanamail(outer);
    if (!object) return E_OUTOFMEMORY;
    // The inner unknown holds the one reference of a new object.
    const HRESULT hr = object->m_inner.QueryInterface(riid, ppv);
    object->m_inner.Release();
    return hr;
}

// ---- IUnknown

HRESULT Hanamail::Inner::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualGUID(riid, IID_IDispatch) || IsEqualGUID(riid, IID_IHanamail)) {
        *ppv = static_cast<IHanamail*>(owner);
    } else if (IsEqualGUID(riid, IID_ISupportErrorInfo)) {
        *ppv = static_cast<ISupportErrorInfo*>(owner);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Through the controlling unknown: an aggregated object's interfaces
    // keep the outer object alive.
    owner->AddRef();
    return S_OK;
}

ULONG Hanamail::Inner::AddRef()
{
    return owner->m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG Hanamail::Inner::Release()
{
    const ULONG left = owner->m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete owner;
    return left;
}

HRESULT Hanamail::QueryInterface(REFIID riid, void** ppv)
{
    return m_controlling->QueryInterface(riid, ppv);
}

ULONG Hanamail::AddRef()
{
    return m_controlling->AddRef();
}

ULONG Hanamail::Release()
{
    return m_controlling->Release();
}

HRESULT Hanamail::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualGUID(riid, IID_IHanamail) ? S_OK : S_FALSE;
}

// ---- IDispatch

HRESULT Hanamail::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo) return E_INVALIDARG;
    *pctinfo = platform::hasTypeLibraries() ? 1 : 0;
    return S_OK;
}

HRESULT Hanamail::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo)
{
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    ITypeInfo* info = nullptr;
    const HRESULT hr = ModuleState::typeInfo(&info);
    if (FAILED(hr)) return hr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    platform::addRefTypeInfo(info);
    *ppTInfo = info;
    return S_OK;
}

HRESULT Hanamail::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID, DISPID* ids)
{
    ITypeInfo* info = nullptr;
    const HRESULT hr = ModuleState::typeInfo(&info);
    if (FAILED(hr)) return hr;
    if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return platform::typeInfoGetIDsOfNames(info, names, cNames, ids);
}

HRESULT Hanamail::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* excepInfo, UINT* argErr)
{
    ITypeInfo* info = nullptr;
    const HRESULT hr = ModuleState::typeInfo(&info);
    if (FAILED(hr)) return hr;
    if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return platform::typeInfoInvoke(info, static_cast<IHanamail*>(this), id, flags, params, result, excepInfo, argErr);
}

// ---- SMTP settings

HRESULT Hanamail::getSetting(void (ClsMailMan::*get)(XString&) const, BSTR* out)
{
    m_mailManFlag = 1;
    XString value;
    (m_mailMan.*get)(value);
    bstrOut(out, value);
    return S_OK;
}

HRESULT Hanamail::putSetting(void (ClsMailMan::*put)(const XString&), BSTR value)
{
    m_mailManFlag = 1;
    (m_mailMan.*put)(fromBstr(value));
    return S_OK;
}

HRESULT Hanamail::get_SmtpHost(BSTR* pVal)
{
    return getSetting(&ClsMailMan::get_SmtpHost, pVal);
}

HRESULT Hanamail::put_SmtpHost(BSTR newVal)
{
    return putSetting(&ClsMailMan::put_SmtpHost, newVal);
}

HRESULT Hanamail::get_SmtpLogin(BSTR* pVal)
{
    return getSetting(&ClsMailMan::get_SmtpLogin, pVal);
}

HRESULT Hanamail::put_SmtpLogin(BSTR newVal)
{
    return putSetting(&ClsMailMan::put_SmtpLogin, newVal);
}

HRESULT Hanamail::get_SmtpPassword(BSTR* pVal)
{
    return getSetting(&ClsMailMan::get_SmtpPassword, pVal);
}

HRESULT Hanamail::put_SmtpPassword(BSTR newVal)
{
    return putSetting(&ClsMailMan::put_SmtpPassword, newVal);
}

// ---- Bodies and header

HRESULT Hanamail::SetHtmlBody(BSTR htmlString)
{
    m_mailManFlag = 0;
    const XString html = fromBstr(htmlString);
    if (m_email.HasPlainTextBody())
        (void)m_email.AddHtmlAltBodyUtf8(html);
    else
        m_email.SetHtmlBodyFromUtf8(html);
    return S_OK;
}

HRESULT Hanamail::LoadHtmlComplete(BSTR htmlFilenameOrUrl, LONG* success)
{
    m_mailManFlag = 0;
    boolOut(success, m_email.LoadHtmlComplete(fromBstr(htmlFilenameOrUrl)));
    return S_OK;
}

HRESULT Hanamail::SetPlainTextBody(BSTR bodyText)
{
    m_mailManFlag = 0;
    const XString text = fromBstr(bodyText);
    if (m_email.HasHtmlBody())
        (void)m_email.AddPlainTextAltBody(text);
    else
        m_email.SetPlainBody(text);
    return S_OK;
}

HRESULT Hanamail::AddHeaderField(BSTR fieldName, BSTR fieldValue)
{
    m_mailManFlag = 0;
    (void)m_email.AddHeaderField(fromBstr(fieldName), fromBstr(fieldValue));
    return S_OK;
}

HRESULT Hanamail::AddRecipient(BSTR recipientType, BSTR recipientName, BSTR recipientAddr)
{
    m_mailManFlag = 0;
    m_email.AddRecipientOfType(fromBstr(recipientType), fromBstr(recipientName), fromBstr(recipientAddr));
    return S_OK;
}

// ---- XML and MIME

HRESULT Hanamail::ExportToXML(BSTR* xml)
{
    m_mailManFlag = 0;
    XString text;
    (void)m_email.GetXml(text);
    bstrOut(xml, text);
    return S_OK;
}

HRESULT Hanamail::ImportFromXML(BSTR xml)
{
    m_mailManFlag = 0;
    (void)m_email.SetFromXmlText(fromBstr(xml).getUtf8Sb());
    return S_OK;
}

HRESULT Hanamail::ImportFromMime(BSTR mimeText)
{
    m_mailManFlag = 0;
    (void)m_email.SetFromMimeText(fromBstr(mimeText).getUtf8Sb());
    return S_OK;
}

HRESULT Hanamail::ExportToMime(BSTR* mimeText)
{
    m_mailManFlag = 0;
    XString text;
    (void)m_email.GetMime(text);
    bstrOut(mimeText, text);
    return S_OK;
}

HRESULT Hanamail::ExportToMimeFile(BSTR filename)
{
    m_mailManFlag = 0;
    // The writer's bytes go to the file as they are: a round trip through
    // UTF-16 and the ANSI code page would change every 8-bit byte. An email
    // that could not be written leaves the file as it was.
    StringBuffer mime;
    if (m_email.GetMimeSb(mime))
        (void)FileSys::writeFile(fromBstr(filename), mime.getString(), static_cast<uint32_t>(mime.getSize()), nullptr);
    return S_OK;
}

// ---- Attachments

HRESULT Hanamail::AddFileAttachment(BSTR filename, LONG* success)
{
    m_mailManFlag = 0;
    XString contentType;
    boolOut(success, m_email.AddFileAttachment(fromBstr(filename), contentType));
    return S_OK;
}

HRESULT Hanamail::AddDataAttachment(BSTR filename, VARIANT data)
{
    m_mailManFlag = 0;
    DataBuffer bytes;
    (void)bytes.appendVariant(&data);
    XString contentType;
    (void)m_email.AddDataAttachment(fromBstr(filename), bytes, contentType);
    return S_OK;
}

HRESULT Hanamail::AddStringAttachment(BSTR filename, BSTR str)
{
    m_mailManFlag = 0;
    (void)m_email.AddStringAttachment(fromBstr(filename), fromBstr(str));
    return S_OK;
}

HRESULT Hanamail::ZipAttachments(BSTR zipFilename)
{
    m_mailManFlag = 0;
    (void)m_email.ZipAttachments(fromBstr(zipFilename));
    return S_OK;
}

// ---- Charset, log, sending, files

HRESULT Hanamail::get_Charset(BSTR* pVal)
{
    m_mailManFlag = 0;
    XString name;
    m_email.GetCharset(name);
    bstrOut(pVal, name);
    return S_OK;
}

HRESULT Hanamail::put_Charset(BSTR newVal)
{
    m_mailManFlag = 0;
    (void)m_email.SetCharset(fromBstr(newVal));
    return S_OK;
}

HRESULT Hanamail::get_ErrorInfo(BSTR* pVal)
{
    if (!pVal) return S_OK;
    XString text;
    if (m_mailManFlag)
        m_mailMan.getErrorText(text, true);
    else
        m_email.getErrorText(text, true);
    *pVal = text.getBstr();
    return S_OK;
}

HRESULT Hanamail::SendMail(LONG* success)
{
    m_mailManFlag = 1;
    boolOut(success, m_mailMan.SendEmail(&m_email));
    return S_OK;
}

HRESULT Hanamail::ReadFile(BSTR filename, BSTR Charset, BSTR* contents)
{
    m_mailManFlag = 0;
    ClsFileSys files;
    XString text;
    const bool ok = files.ReadTextFile(fromBstr(filename), fromBstr(Charset), text);
    if (contents) *contents = ok ? text.getBstr() : nullptr;
    return S_OK;
}

HRESULT Hanamail::WriteFile(BSTR filename, BSTR Charset, BSTR contents, LONG* success)
{
    m_mailManFlag = 0;
    ClsFileSys files;
    boolOut(success, files.WriteTextFile(fromBstr(filename), fromBstr(Charset), fromBstr(contents)));
    return S_OK;
}

}  // namespace hanamail
