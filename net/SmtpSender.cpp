// TSmtpSender: the body from MailMessage, and attachments as a MIME
// multipart message with one Base64 part per file.
#include "net/SmtpMail.h"
#include <algorithm>
#include <atomic>
#include <cstring>

namespace krv {

namespace {

// "= Multipart Boundary " + mmddyyhhnn, made unique within the minute.
std::string MakeBoundary() {
    static std::atomic<unsigned> counter{0};
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return Format("= Multipart Boundary %02u%02u%02u%02u%02u.%08lX.%u", t.wMonth, t.wDay, t.wYear % 100, t.wHour,
                  t.wMinute, static_cast<unsigned long>(::GetTickCount()), ++counter);
}

// A file name as it may stand inside a quoted header parameter.
std::string QuotedName(const std::string& path) {
    std::string name = CleanHeaderValue(ExtractFileName(path));
    for (char& c : name)
        if (c == '"') c = '\'';
    return "\"" + name + "\"";
}

} // namespace

TSmtpSender::TSmtpSender(TComponent* owner) : TCustomSmtpClient(owner) {}

TSmtpSender::~TSmtpSender() = default;

void TSmtpSender::SetEmailFiles(const TStringList& value) {
    emailFiles_->Clear();
    for (int i = 0; i < value.Count(); ++i) {
        std::string name = Trim(value[i]);
        if (name.empty()) continue;
        if (!FileExists(name)) throw SmtpException("File not found '" + name + "'");
        emailFiles_->Add(name);
    }
}

void TSmtpSender::DoAttachContentType(int fileNumber, const std::string& fileName, std::string& contentType) {
    if (OnAttachContentType) OnAttachContentType(this, fileNumber, fileName, contentType);
}

void TSmtpSender::DoAttachHeader(int fileNumber, const std::string& fileName, TStringList& hdrLines) {
    if (OnAttachHeader) OnAttachHeader(this, fileNumber, fileName, hdrLines);
}

void TSmtpSender::Data() {
    bodyFromEvent_ = true;
    fileIndex_ = 0;
    eventLineNum_ = 0;
    CloseAttachmentFile();
    body_.clear();
    boundary_.clear();
    if (emailFiles_->Count() > 0) {
        boundary_ = MakeBoundary();
        body_.push_back("This is a multipart MIME message.");
        body_.push_back("");
        body_.push_back("--" + boundary_);
        body_.push_back("Content-Type: " + ContentTypeText() + "; charset=\"" + CleanHeaderValue(CharSet) + "\"");
        body_.push_back("Content-Transfer-Encoding: 7bit");
        body_.push_back("");
    }
    for (int i = 0; i < MailMessage().Count(); ++i) body_.push_back(MailMessage()[i]);
    TCustomSmtpClient::Data();
}

void TSmtpSender::DoHeaderLine(char* msg, int size) {
    if (!boundary_.empty() && size > 0 && _strnicmp(msg, "CONTENT-TYPE:", 13) == 0) {
        std::string line = "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary_ + "\"";
        size_t n = std::min(line.size(), static_cast<size_t>(size - 1));
        std::memcpy(msg, line.data(), n);
        msg[n] = 0;
    }
    TCustomSmtpClient::DoHeaderLine(msg, size);
}

void TSmtpSender::DoGetData(int lineNum, std::string& line, bool& more) {
    (void)lineNum;
    // Whole lines: the client wraps long ones for the wire without losing text.
    if (!body_.empty()) {
        line = std::move(body_.front());
        body_.pop_front();
        more = true;
        return;
    }
    if (bodyFromEvent_) {
        TCustomSmtpClient::DoGetData(++eventLineNum_, line, more);
        if (more) return;
        bodyFromEvent_ = false;
    }
    if (AttachmentOpen()) {
        if (EncodeAttachmentLine(line)) {
            CloseAttachmentFile();
            ++fileIndex_;
            if (fileIndex_ >= emailFiles_->Count()) {
                body_.push_back("");
                body_.push_back("--" + boundary_ + "--");
            }
        }
        more = true;
        return;
    }
    if (fileIndex_ < emailFiles_->Count()) {
        StartNextAttachment(line);
        more = true;
        return;
    }
    more = false;
}

void TSmtpSender::StartNextAttachment(std::string& line) {
    const std::string fileName = (*emailFiles_)[fileIndex_];
    line.clear();   // the empty line before the part's headers
    OpenAttachmentFile(fileName);
    std::string contentType = "application/octet-stream";
    DoAttachContentType(fileIndex_, fileName, contentType);
    TStringList part;
    part.Add("--" + boundary_);
    part.Add("Content-Type: " + CleanHeaderValue(contentType) + ";");
    part.Add("\tname=" + QuotedName(fileName));
    part.Add("Content-Transfer-Encoding: base64");
    part.Add("Content-Disposition: attachment;");
    part.Add("\tfilename=" + QuotedName(fileName));
    DoAttachHeader(fileIndex_, fileName, part);
    for (int i = 0; i < part.Count(); ++i) body_.push_back(part[i]);
    body_.push_back("");
}

} // namespace krv
