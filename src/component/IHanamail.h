#pragma once
// The dual automation interface of the Hanamail object. The slot order after
// the seven IDispatch slots is fixed: clients bound to the vtable rely on it.
#include "platform/Automation.h"

namespace hanamail {

// {8C47E2B9-1F6A-4D93-B0E5-5A2C9D7F3E61}
extern const IID IID_IHanamail;

struct IHanamail : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_SmtpHost(BSTR* pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SmtpHost(BSTR newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SmtpLogin(BSTR* pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SmtpLogin(BSTR newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SmtpPassword(BSTR* pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SmtpPassword(BSTR newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHtmlBody(BSTR htmlString) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadHtmlComplete(BSTR htmlFilenameOrUrl, LONG* success) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPlainTextBody(BSTR bodyText) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddHeaderField(BSTR fieldName, BSTR fieldValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddRecipient(BSTR recipientType, BSTR recipientName, BSTR recipientAddr) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExportToXML(BSTR* xml) = 0;
    virtual HRESULT STDMETHODCALLTYPE ImportFromXML(BSTR xml) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddFileAttachment(BSTR filename, LONG* success) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddDataAttachment(BSTR filename, VARIANT data) = 0;
    virtual HRESULT STDMETHODCALLTYPE ZipAttachments(BSTR zipFilename) = 0;
    virtual HRESULT STDMETHODCALLTYPE ImportFromMime(BSTR mimeText) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExportToMime(BSTR* mimeText) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Charset(BSTR* pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Charset(BSTR newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ErrorInfo(BSTR* pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendMail(LONG* success) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadFile(BSTR filename, BSTR Charset, BSTR* contents) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteFile(BSTR filename, BSTR Charset, BSTR contents, LONG* success) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddStringAttachment(BSTR filename, BSTR str) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExportToMimeFile(BSTR filename) = 0;

protected:
    ~IHanamail() = default;
};

}  // namespace hanamail
