#include "app/Messages.h"
#include "app/Lang.h"

namespace krv {

#define KRV_DEFINE_MESSAGE(key, text) std::string key;
KRV_MESSAGE_TABLE(KRV_DEFINE_MESSAGE)
#undef KRV_DEFINE_MESSAGE

std::string KrvMailFooter;
std::string KrvStartingLine;
std::string KrvReadyLine;
std::string KrvNoRecorderMessage;
std::string KrvMailSubjectPrefix;
std::string KrvMailErrorBody;
std::string KrvArchiveNameError;
std::string KrvNoFreeName;
std::string KrvChangeDiscQuestion;
std::string KrvSessionFileError;
std::string KrvTitleCheckingDirs;
std::string KrvTitleCheckingFreeSpace;
std::string KrvTitleZipping;
std::string KrvTitleMakingISO;
std::string KrvTitleBlanking;
std::string KrvTitleBurning;
std::string KrvTitleMailing;
std::string KrvRestartLangMessage;

const std::vector<MessageEntry>& MessageTable() {
#define KRV_MESSAGE_ROW(key, text) MessageEntry{#key, text, &key},
    static const std::vector<MessageEntry> table{KRV_MESSAGE_TABLE(KRV_MESSAGE_ROW)};
#undef KRV_MESSAGE_ROW
    return table;
}

namespace {
void BuildComposedTexts() {
    const std::string product = kProductName;
    const std::string productVersion = product + " " + kProductVersion;
    const std::string crlf = "\r\n";
    KrvMailFooter = KV_CopyRight_1 + productVersion + "." + crlf + KV_CopyRight_3 + " " + kProductWebPage + " " +
                    KV_CopyRight_4;
    KrvStartingLine = productVersion + KV_Boot_1;
    KrvReadyLine = productVersion + KV_Ready_Txt_1;
    KrvNoRecorderMessage = KV_Sorry + " " + product + " " + KV_NoDevices_1 + " " + KV_NoCDBackup;
    KrvMailSubjectPrefix = product + " " + KV_Mail_Subject_1 + " ";
    KrvMailErrorBody = KV_Mail_Msg_Error_1 + crlf + KV_Mail_Msg_Error_2;
    KrvArchiveNameError = KV_ArchiveFileName_Error_1 + crlf + KV_ArchiveFileName_Error_2;
    KrvNoFreeName = product + " " + KV_NoZipFileName_1 + crlf + KV_NoZipFileName_2;
    KrvChangeDiscQuestion = KV_Retry_ChangeDisk_1 + crlf + KV_Retry_ChangeDisk_2;
    KrvSessionFileError = KQ_XmlError_1 + product + KQ_XmlError_2;
    KrvTitleCheckingDirs = product + KV_CheckingDirs_AppTitle_1;
    KrvTitleCheckingFreeSpace = product + KV_CheckingFreeSpace_AppTitle_1;
    KrvTitleZipping = product + KV_Zipping_AppTitle_1;
    KrvTitleMakingISO = product + KV_MakingISO_AppTitle_1;
    KrvTitleBlanking = product + KV_Blanking_AppTitle_1;
    KrvTitleBurning = product + KV_Burning_AppTitle_1;
    KrvTitleMailing = product + KV_Mailing_AppTitle_1;
    KrvRestartLangMessage = KV_Restart_Lang_1 + product + KV_Restart_Lang_2;
}
}

void LoadLanguageStrings(const TLang& lang) {
    for (const MessageEntry& row : MessageTable()) *row.Variable = lang.GetConstant(row.Key, row.EnglishDefault);
    BuildComposedTexts();
}

} // namespace krv
