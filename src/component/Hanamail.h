#pragma once
#include <atomic>
#include <cstdint>

#include "component/ClsEmail.h"
#include "component/ClsMailMan.h"
#include "component/IHanamail.h"

namespace hanamail {

// The automation object: one email and one mail manager for its life, and a
// flag that says which of the two the last call went to (ErrorInfo shows
// that one's log). Every member returns S_OK; outcomes are the out values
// and the log. Used from one thread at a time; only the count is atomic.
//
// Aggregated, the object's own IUnknown (the inner one) goes to the outer
// object, and every interface's IUnknown methods go to the outer unknown.
class Hanamail final : public IHanamail, public ISupportErrorInfo {
public:
    // A new object with one reference, as the interface riid, in *ppv. With
    // an outer unknown the object is aggregated and riid must be IUnknown:
    // *ppv is then the inner unknown. A failed QueryInterface destroys the
    // object again.
    static HRESULT create(REFIID riid, void** ppv);
    static HRESULT create(IUnknown* outer, REFIID riid, void** ppv);

    Hanamail(const Hanamail&) = delete;
    Hanamail& operator=(const Hanamail&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // IDispatch, from the registered type library where the platform has
    // type libraries; elsewhere the object has no type information.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excepInfo, UINT* argErr) override;

    // IHanamail
    HRESULT STDMETHODCALLTYPE get_SmtpHost(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SmtpHost(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_SmtpLogin(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SmtpLogin(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_SmtpPassword(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SmtpPassword(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE SetHtmlBody(BSTR htmlString) override;
    HRESULT STDMETHODCALLTYPE LoadHtmlComplete(BSTR htmlFilenameOrUrl, LONG* success) override;
    HRESULT STDMETHODCALLTYPE SetPlainTextBody(BSTR bodyText) override;
    HRESULT STDMETHODCALLTYPE AddHeaderField(BSTR fieldName, BSTR fieldValue) override;
    HRESULT STDMETHODCALLTYPE AddRecipient(BSTR recipientType, BSTR recipientName, BSTR recipientAddr) override;
    HRESULT STDMETHODCALLTYPE ExportToXML(BSTR* xml) override;
    HRESULT STDMETHODCALLTYPE ImportFromXML(BSTR xml) override;
    HRESULT STDMETHODCALLTYPE AddFileAttachment(BSTR filename, LONG* success) override;
    HRESULT STDMETHODCALLTYPE AddDataAttachment(BSTR filename, VARIANT data) override;
    HRESULT STDMETHODCALLTYPE ZipAttachments(BSTR zipFilename) override;
    HRESULT STDMETHODCALLTYPE ImportFromMime(BSTR mimeText) override;
    HRESULT STDMETHODCALLTYPE ExportToMime(BSTR* mimeText) override;
    HRESULT STDMETHODCALLTYPE get_Charset(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_Charset(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_ErrorInfo(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE SendMail(LONG* success) override;
    HRESULT STDMETHODCALLTYPE ReadFile(BSTR filename, BSTR Charset, BSTR* contents) override;
    HRESULT STDMETHODCALLTYPE WriteFile(BSTR filename, BSTR Charset, BSTR contents, LONG* success) override;
    HRESULT STDMETHODCALLTYPE AddStringAttachment(BSTR filename, BSTR str) override;
    HRESULT STDMETHODCALLTYPE ExportToMimeFile(BSTR filename) override;

    // Which log ErrorInfo shows: true for the mail manager's.
    bool mailManFlag() const { return m_mailManFlag != 0; }

private:
    // The non-delegating IUnknown: the object's identity and its count.
    struct Inner final : IUnknown {
        Hanamail* owner = nullptr;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
    };

    explicit Hanamail(IUnknown* outer);
    ~Hanamail();

    HRESULT getSetting(void (ClsMailMan::*get)(XString&) const, BSTR* out);
    HRESULT putSetting(void (ClsMailMan::*put)(const XString&), BSTR value);

    Inner m_inner;
    IUnknown* m_controlling;  // the outer unknown, or m_inner
    std::atomic<ULONG> m_refs{1};
    uint8_t m_mailManFlag = 0;
    ClsEmail m_email;
    ClsMailMan m_mailMan;
};

}  // namespace hanamail
