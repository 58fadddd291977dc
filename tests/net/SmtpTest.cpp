// The mail client against a scripted server made of our own listening
// socket: it answers each command from a table, records the commands and
// the message, and can misbehave (silence, hang-ups, odd replies).
#include "common/TempPath.h"
#include "NetTestUtil.h"
#include "framework/Stream.h"
#include "net/Base64.h"
#include "net/SmtpMail.h"
#include "SmtpTestUtil.h"
#include <map>
#include <random>
#include <regex>

using namespace krvtest;

namespace {

class ScriptedSmtp {
public:
    std::string banner = "220 scripted ready\r\n";
    // Replies by command verb (upper case); "" = stay silent; "CLOSE" = hang up.
    std::map<std::string, std::string> replies = {
        {"EHLO", "250-scripted\r\n250-SIZE 1000000\r\n250 AUTH PLAIN LOGIN CRAM-MD5\r\n"},
        {"HELO", "250 scripted\r\n"},
        {"MAIL", "250 sender ok\r\n"},
        {"RCPT", "250 recipient ok\r\n"},
        {"DATA", "354 go ahead\r\n"},
        {".", "250 queued\r\n"},
        {"RSET", "250 reset\r\n"},
        {"VRFY", "250 known\r\n"},
        {"QUIT", "221 bye\r\n"},
        {"AUTH", "235 welcome\r\n"},
    };
    // Answers in order to the lines that follow an AUTH command.
    std::vector<std::string> authReplies;
    bool closeOnQuit = true;
    // Hang up after this many message lines (-1: never).
    int dropAfterDataLines = -1;
    std::vector<std::string> commands;
    std::string message;   // what came between DATA and the final dot, as sent
    TestServer server;

    ScriptedSmtp() {
        server.onAccept = [this](Peer& p) { if (!banner.empty()) p.socket->SendStr(banner); };
        server.onData = [this](Peer& p) { Run(p); };
    }
    std::string Port() { return server.Port(); }
    Peer* peer() { return server.peers.empty() ? nullptr : server.peers[0].get(); }

private:
    bool inData_ = false;
    int dataLines_ = 0;
    size_t authStep_ = 0;
    bool inAuth_ = false;

    void Answer(Peer& p, const std::string& reply) {
        if (reply == "CLOSE") {
            p.socket->CloseDelayed();
            return;
        }
        if (!reply.empty()) p.socket->SendStr(reply);
    }

    void Run(Peer& p) {
        size_t eol;
        while ((eol = p.received.find("\r\n")) != std::string::npos) {
            std::string line = p.received.substr(0, eol);
            p.received.erase(0, eol + 2);
            if (inData_) {
                if (line == ".") {
                    inData_ = false;
                    commands.push_back(".");
                    Answer(p, replies["."]);
                    continue;
                }
                message += line + "\r\n";
                if (++dataLines_ == dropAfterDataLines) {
                    p.socket->Abort();
                    return;
                }
                continue;
            }
            commands.push_back(line);
            if (inAuth_ && authStep_ < authReplies.size()) {
                Answer(p, authReplies[authStep_++]);
                continue;
            }
            std::string verb = line.substr(0, line.find_first_of(" :"));
            for (char& c : verb) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            if (verb == "DATA") {
                std::string r = replies["DATA"];
                inData_ = r.rfind("354", 0) == 0;
                Answer(p, r);
            } else if (verb == "AUTH" && !authReplies.empty()) {
                inAuth_ = true;
                authStep_ = 0;
                Answer(p, authReplies[authStep_++]);
            } else {
                Answer(p, replies.count(verb) ? replies[verb] : "500 unknown\r\n");
                if (verb == "QUIT" && closeOnQuit) p.socket->CloseDelayed();
            }
        }
    }
};

struct Done {
    TSmtpRequest rq;
    WORD code;
    bool operator==(const Done& o) const { return rq == o.rq && code == o.code; }
};
std::ostream& operator<<(std::ostream& os, const Done& d) { return os << "{" << d.rq << "," << d.code << "}"; }

// A sender whose time limit can be reached at once, by the message its timer sends.
struct TestSender : TSmtpSender {
    void ReachTimeLimit() { LRESULT r; WndProc(WM_TIMER, 1, 0, r); }
};
// A cancel the system refuses: the answer is already on its way.
int WINAPI RefuseCancel(HANDLE) { return ws::WSASetLastError(WSAEALREADY), SOCKET_ERROR; }

// A sender that records its request-done events and runs a whole session.
struct Mailer {
    TestSender smtp;
    std::vector<Done> done;
    std::vector<std::string> responses;
    int closed = 0;

    explicit Mailer(const std::string& port) {
        smtp.Host = "127.0.0.1";
        smtp.Port = port;
        smtp.SignOn = "tester";
        smtp.FromName = "backup@example.org";
        smtp.RcptName().Add("admin@example.org");
        smtp.HdrFrom = "\"Korvane\" <backup@example.org>";
        smtp.HdrTo = "admin@example.org";
        smtp.HdrSubject = "Report";
        smtp.OnRequestDone = [this](TObject*, TSmtpRequest rq, WORD code) { done.push_back({rq, code}); };
        smtp.OnResponse = [this](TObject*, const std::string& s) { responses.push_back(s); };
        smtp.OnSessionClosed = [this](TObject*, WORD) { ++closed; };
    }
    bool Wait(size_t n) { return PumpUntil([&] { return done.size() >= n; }, 20000); }
    void Login(TSmtpAuthType type, const std::string& user, const std::string& pass) {
        smtp.AuthType = type;
        smtp.Username = user;
        smtp.Password = pass;
    }
    // Opens and answers how the Open request ended ({smtpCustom, 0xFFFF}: never).
    Done OpenResult() {
        size_t before = done.size();
        smtp.Open();
        return Wait(before + 1) ? done[before] : Done{smtpCustom, 0xFFFF};
    }
    // Open, then Mail and Quit from the request-done handler, as an owner would.
    void RunSession() {
        smtp.OnRequestDone = [this](TObject*, TSmtpRequest rq, WORD code) {
            done.push_back({rq, code});
            if (code == 0 && rq == smtpOpen) smtp.Mail();
            else if (code == 0 && rq == smtpMail) smtp.Quit();
        };
        smtp.Open();
    }
    bool SessionEnded() {
        return PumpUntil([&] {
            return !done.empty() && (done.back().code != 0 || done.back().rq == smtpQuit);
        });
    }
};

std::string TempFile(const std::string& name, const std::string& bytes) {
    std::string path = krv::test::TempPath(name);
    TFileStream f(path, fmCreate);
    if (!bytes.empty()) f.WriteBuffer(bytes.data(), bytes.size());
    return path;
}

} // namespace

TEST(SmtpText, DateLineFormat) {
    SYSTEMTIME t{};
    t.wYear = 2024; t.wMonth = 3; t.wDay = 5; t.wDayOfWeek = 2; t.wHour = 9; t.wMinute = 7; t.wSecond = 2;
    EXPECT_EQ(SmtpDateText(t), "Tue, 5 Mar 2024 09:07:02 GMT");
    t.wMonth = 12; t.wDay = 31; t.wDayOfWeek = 0; t.wHour = 23; t.wMinute = 59; t.wSecond = 59;
    EXPECT_EQ(SmtpDateText(t), "Sun, 31 Dec 2024 23:59:59 GMT");
    EXPECT_TRUE(std::regex_match(SmtpDateText(SmtpNowUtc()),
                                 std::regex(R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d{1,2} [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d GMT)")));
}

TEST(SmtpText, ReplyCodesAndContinuation) {
    bool more = false;
    EXPECT_EQ(ParseSmtpReplyCode("250-first", more), 250); EXPECT_TRUE(more);
    EXPECT_EQ(ParseSmtpReplyCode("250 last", more), 250); EXPECT_FALSE(more);
    EXPECT_EQ(ParseSmtpReplyCode(" \t+354 go", more), 354); EXPECT_FALSE(more);
    EXPECT_EQ(ParseSmtpReplyCode("hello", more), 0);
    EXPECT_EQ(ParseSmtpReplyCode("", more), 0); EXPECT_FALSE(more);
    EXPECT_EQ(ParseSmtpReplyCode("99999999999999", more), 999999) << "no overflow on endless digits";
}

TEST(SmtpText, BodyLinesSplitStuffedAndWrapped) {
    EXPECT_EQ(SplitMailLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitMailLines("a\r\n\r\n"), (std::vector<std::string>{"a", "", ""}));
    EXPECT_EQ(StuffMailLine("."), std::vector<std::string>{".."});
    EXPECT_EQ(StuffMailLine(".x"), std::vector<std::string>{"..x"});
    EXPECT_EQ(StuffMailLine(""), std::vector<std::string>{""});
    // A long line is cut into wire lines of at most 998, each stuffed on its
    // own, and the pieces hold every character.
    std::string longLine = "x" + std::string(997, 'a') + "." + std::string(1500, 'b') + ".";
    auto pieces = StuffMailLine(longLine);
    std::string joined;
    for (auto& p : pieces) {
        EXPECT_LE(p.size(), kSmtpMaxLineLength);
        joined += p[0] == '.' ? p.substr(1) : p;
    }
    EXPECT_EQ(joined, longLine);
    ASSERT_GE(pieces.size(), 3u);
    EXPECT_EQ(pieces[1].substr(0, 2), "..");
    EXPECT_EQ(CleanHeaderValue("a\r\nBcc: x\ry\nz"), "aBcc: xyz");
}

TEST(SmtpClient, WholeSessionWithoutLoginHasTheExactTranscript) {
    ScriptedSmtp server;
    Mailer m(server.Port());
    m.smtp.RcptName().Add("<second@example.org>");
    m.smtp.HdrCc = "cc@example.org";
    m.smtp.HdrReplyTo = "   ";
    m.smtp.HdrSubject = "[Job\r\n] done";
    TStringList body;
    body.Add("first line");
    body.Add(".leading dot");
    body.Add(".");
    body.Add("two\r\nlines");
    m.smtp.SetMailMessage(body);
    std::vector<TSmtpState> states;
    m.smtp.OnStateChange = [&](TObject*) { states.push_back(m.smtp.State()); };
    m.RunSession();
    EXPECT_TRUE(m.done.empty()) << "completion is never reported from inside the call";
    ASSERT_TRUE(m.SessionEnded());
    EXPECT_EQ(m.done, (std::vector<Done>{{smtpOpen, 0}, {smtpMail, 0}, {smtpQuit, 0}}));
    EXPECT_EQ(server.commands,
              (std::vector<std::string>{"HELO tester", "MAIL FROM:<backup@example.org>", "RCPT TO:<admin@example.org>",
                                        "RCPT TO:<second@example.org>", "DATA", ".", "QUIT"}));
    auto lines = MailLines(server.message);
    ASSERT_EQ(lines.size(), 15u) << server.message;
    EXPECT_EQ(lines[0], "From: \"Korvane\" <backup@example.org>");
    EXPECT_EQ(lines[1], "To: admin@example.org");
    EXPECT_EQ(lines[2], "Cc: cc@example.org");
    EXPECT_EQ(lines[3], "Subject: [Job] done") << "line breaks in a header value are dropped";
    EXPECT_EQ(lines[4], "Sender: \"Korvane\" <backup@example.org>");
    EXPECT_EQ(lines[5], "Mime-Version: 1.0");
    EXPECT_EQ(lines[6], "Content-Type: text/plain; charset=\"iso-8859-1\"");
    EXPECT_TRUE(std::regex_match(lines[7], std::regex(R"(Date: \w{3}, \d{1,2} \w{3} \d{4} \d\d:\d\d:\d\d GMT)"))) << lines[7];
    EXPECT_EQ(lines[8], "X-Mailer: Tervel SMTP Component V2.32");
    EXPECT_EQ(lines[9], "");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 10, lines.end()),
              (std::vector<std::string>{"first line", "..leading dot", "..", "two", "lines"}));
    EXPECT_EQ(m.smtp.State(), smtpReady);
    EXPECT_FALSE(m.smtp.Connected());
    EXPECT_FALSE(states.empty());
}

TEST(SmtpClient, QuitEndsOnceAnsweredEvenIfTheServerKeepsTheLineOpen) {
    ScriptedSmtp server;
    server.closeOnQuit = false;
    Mailer m(server.Port());
    m.smtp.Timeout = 0;   // only our own close can end it
    EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 0}));
    m.smtp.Quit();
    ASSERT_TRUE(m.Wait(2));
    EXPECT_EQ(m.done[1], (Done{smtpQuit, 0}));
    EXPECT_FALSE(m.smtp.Connected());
}

TEST(SmtpClient, ALongHeaderIsFoldedAtBlanksAndUnfoldsToTheSame) {
    std::string words;
    for (int i = 0; i < 400; ++i) words += " word" + std::to_string(i);
    EXPECT_EQ(FoldHeaderLine("Subject: short"), "Subject: short");
    std::string unbroken(1200, 'q');
    EXPECT_EQ(FoldHeaderLine(unbroken), unbroken) << "nothing to fold at";
    ScriptedSmtp server;
    Mailer m(server.Port());
    m.smtp.HdrSubject = unbroken + words;
    m.RunSession();
    ASSERT_TRUE(m.SessionEnded());
    std::string head = server.message.substr(0, server.message.find("\r\n\r\n"));
    size_t at = head.find("Subject:");
    ASSERT_NE(at, std::string::npos);
    std::string subject = head.substr(at, head.find("\r\nSender:") - at);
    std::vector<std::string> physical = MailLines(subject + "\r\n");
    EXPECT_GE(physical.size(), 3u);
    for (size_t i = 1; i < physical.size(); ++i) {
        // Only the blank-free stretch may stay long.
        if (physical[i] != " " + unbroken) {
            EXPECT_LE(physical[i].size(), kSmtpMaxLineLength);
        }
        EXPECT_EQ(physical[i][0], ' ');
    }
    EXPECT_EQ(StringReplaceAll(subject, "\r\n", ""), "Subject: " + unbroken + words);
}

TEST(SmtpClient, OwnHeadersSendsNoHeaderBlock) {
    ScriptedSmtp server;
    Mailer m(server.Port());
    m.smtp.OwnHeaders = true;
    TStringList body;
    body.Add("Subject: mine");
    body.Add("");
    body.Add("text");
    m.smtp.SetMailMessage(body);
    m.RunSession();
    ASSERT_TRUE(m.SessionEnded());
    EXPECT_EQ(server.message, "Subject: mine\r\n\r\ntext\r\n");
}

TEST(SmtpClient, EhloRefusedFallsBackToHeloWithoutLogin) {
    ScriptedSmtp server;
    server.replies["EHLO"] = "500 what?\r\n";
    Mailer m(server.Port());
    m.Login(smtpAuthLogin, "u", "p");
    EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 0}));
    EXPECT_EQ(server.commands, (std::vector<std::string>{"EHLO tester", "HELO tester"}));
    EXPECT_FALSE(m.smtp.ESmtpSupported());
}

TEST(SmtpClient, BannerOtherThan220EndsOpenWithItsCode) {
    ScriptedSmtp server;
    server.banner = "554 go away\r\n";
    Mailer m(server.Port());
    EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 554}));
    EXPECT_EQ(m.smtp.ErrorMessage(), "554 go away");
    EXPECT_TRUE(server.commands.empty());
    EXPECT_FALSE(m.smtp.Connected());
    m.smtp.Open();   // the client is usable again
    ASSERT_TRUE(m.Wait(2));
    EXPECT_EQ(m.done[1].code, 554);
}

TEST(SmtpClient, MultiLineRepliesCompleteOnTheirLastLine) {
    ScriptedSmtp server;
    server.banner = "220-first banner line\r\n220-second\r\n220 last\r\n";
    server.replies["EHLO"] = "250-one\r\n250-two\r\n250 three\r\n";
    server.authReplies = {"235 fine\r\n"};
    Mailer m(server.Port());
    m.Login(smtpAuthPlain, "user", "pw");
    EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 0}));
    EXPECT_EQ(m.responses, (std::vector<std::string>{"220-first banner line", "220-second", "220 last", "250-one",
                                                     "250-two", "250 three", "235 fine"}));
    ASSERT_EQ(server.commands.size(), 2u);
    EXPECT_TRUE(m.smtp.ESmtpSupported());
}

TEST(SmtpClient, LoginMethodsSendWhatServersCheck) {
    {   // PLAIN logs in as the user name, whatever the sender address is.
        ScriptedSmtp server;
        Mailer m(server.Port());
        m.Login(smtpAuthPlain, "user", "secret");
        EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 0}));
        ASSERT_EQ(server.commands.size(), 2u);
        ASSERT_EQ(server.commands[1].rfind("AUTH PLAIN ", 0), 0u);
        EXPECT_EQ(Base64Decode(server.commands[1].substr(11)), std::string("user\0user\0secret", 16));
    }
    {   // LOGIN: name and password each after a 334 prompt.
        ScriptedSmtp server;
        server.authReplies = {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"};
        Mailer m(server.Port());
        m.Login(smtpAuthLogin, "user", "secret");
        EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 0}));
        EXPECT_EQ(server.commands, (std::vector<std::string>{"EHLO tester", "AUTH LOGIN", Base64Encode("user"),
                                                             Base64Encode("secret")}));
    }
    {   // CRAM-MD5 with the worked example of its defining document.
        ScriptedSmtp server;
        server.authReplies = {"334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n", "235 ok\r\n"};
        Mailer m(server.Port());
        m.Login(smtpAuthCramMD5, "tim", "tanstaaftanstaaf");
        EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 0}));
        ASSERT_EQ(server.commands.size(), 3u);
        EXPECT_EQ(Base64Decode(server.commands[2]), "tim b913a602c7eda7a495b4e6e7334d3890");
    }
    {   // A refused password ends Open with the server's code.
        ScriptedSmtp server;
        server.authReplies = {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "535 bad credentials\r\n"};
        Mailer m(server.Port());
        m.smtp.AuthType = smtpAuthLogin;
        EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 535}));
        EXPECT_EQ(m.smtp.ErrorMessage(), "535 bad credentials");
    }
}

TEST(SmtpClient, ServerSilenceEndsTheRequestWithATimeout) {
    ScriptedSmtp server;
    server.replies["HELO"] = "";   // never answers
    Mailer m(server.Port());
    m.smtp.Timeout = 1;
    EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, kSmtpTimeoutError}));
    EXPECT_FALSE(m.smtp.Connected());
    EXPECT_EQ(m.smtp.State(), smtpReady);
    PumpFor(200);
    EXPECT_EQ(m.done.size(), 1u) << "ends once";
}

TEST(SmtpClient, SilentBeforeTheBannerTimesOutToo) {
    ScriptedSmtp server;
    server.banner.clear();
    Mailer m(server.Port());
    m.smtp.Timeout = 1;
    EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, kSmtpTimeoutError}));
}

TEST(SmtpClient, ConnectionLostBeforeAReplyIsAnError) {
    {   // During Open: no step goes on without a connection.
        ScriptedSmtp server;
        server.replies["HELO"] = "CLOSE";
        Mailer m(server.Port());
        EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, kSmtpConnectionLost}));
    }
    {   // In the middle of the message: the mail is not reported as sent.
        ScriptedSmtp server;
        server.dropAfterDataLines = 3;
        Mailer m(server.Port());
        TStringList body;
        for (int i = 0; i < 5000; ++i) body.Add("line " + std::to_string(i) + std::string(60, 'x'));
        m.smtp.SetMailMessage(body);
        m.RunSession();
        ASSERT_TRUE(m.SessionEnded());
        ASSERT_EQ(m.done.size(), 2u);
        EXPECT_EQ(m.done[0], (Done{smtpOpen, 0}));
        EXPECT_EQ(m.done[1].rq, smtpMail);
        EXPECT_NE(m.done[1].code, 0);
        EXPECT_EQ(m.smtp.State(), smtpReady);
    }
}

TEST(SmtpClient, RepliesWithoutACodeOrTooLongAreErrors) {
    {
        ScriptedSmtp server;
        server.replies["HELO"] = "hello there\r\n";
        Mailer m(server.Port());
        EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 500}));
        EXPECT_EQ(m.smtp.ErrorMessage(), "hello there");
    }
    {
        ScriptedSmtp server;
        server.replies["HELO"] = "250 " + std::string(5000, 'z') + "\r\n";
        Mailer m(server.Port());
        EXPECT_EQ(m.OpenResult(), (Done{smtpOpen, 500}));
        EXPECT_EQ(m.smtp.ErrorMessage().rfind("500 Reply line too long", 0), 0u);
    }
}

TEST(SmtpClient, RequestRules) {
    ScriptedSmtp server;
    Mailer m(server.Port());
    // Quit without a connection still reports, later.
    m.smtp.Quit();
    EXPECT_TRUE(m.done.empty());
    ASSERT_TRUE(m.Wait(1));
    EXPECT_EQ(m.done[0], (Done{smtpQuit, 0}));
    EXPECT_THROW(m.smtp.Helo(), SmtpException);
    m.smtp.Open();
    try {
        m.smtp.Open();
        ADD_FAILURE() << "a second request while one runs";
    } catch (const SmtpException& e) {
        EXPECT_STREQ(e.what(), "SMTP component not ready");
    }
    ASSERT_TRUE(m.Wait(2));
    EXPECT_EQ(m.done[1], (Done{smtpOpen, 0}));
    try {
        m.smtp.Open();
        ADD_FAILURE() << "Open while connected";
    } catch (const SmtpException& e) {
        EXPECT_STREQ(e.what(), "SMTP component already connected");
    }
    m.smtp.RcptName().Clear();
    EXPECT_THROW(m.smtp.Mail(), SmtpException);
    // Single commands report their own request type.
    m.smtp.Rset();
    ASSERT_TRUE(m.Wait(3));
    EXPECT_EQ(m.done[2], (Done{smtpRset, 0}));
    m.smtp.Auth();   // no EHLO was answered
    ASSERT_TRUE(m.Wait(4));
    EXPECT_EQ(m.done[3], (Done{smtpAuth, 500}));
    EXPECT_EQ(m.smtp.LastResponse(), "500 ESMTP not supported.");
    m.smtp.Quit();
    ASSERT_TRUE(m.Wait(5));
    EXPECT_EQ(m.done[4], (Done{smtpQuit, 0}));
    EXPECT_EQ(server.commands.back(), "QUIT");
}

TEST(SmtpClient, AbortDuringOpenReports426) {
    ScriptedSmtp server;
    server.replies["HELO"] = "";
    Mailer m(server.Port());
    m.smtp.Open();
    ASSERT_TRUE(PumpUntil([&] { return !server.commands.empty(); }));
    m.smtp.Abort();
    EXPECT_EQ(m.smtp.State(), smtpReady);
    ASSERT_TRUE(m.Wait(1));
    EXPECT_EQ(m.done[0], (Done{smtpOpen, 426}));
}

TEST(SmtpClient, NoServerListeningEndsOpenWithTheSocketError) {
    Mailer m(UnusedPort());
    m.smtp.Open();
    ASSERT_TRUE(m.Wait(1));
    EXPECT_EQ(m.done[0].rq, smtpOpen);
    EXPECT_EQ(m.done[0].code, 10061) << "a refused connection ends Open with the socket's error, not a bare 500";
    EXPECT_NE(m.smtp.ErrorMessage().find("(Winsock error #10061)"), std::string::npos) << m.smtp.ErrorMessage();
}

// A connect stopped before the server: each row ends one its way.
TEST(SmtpClient, AConnectStoppedBeforeTheServerEndsWithItsOwnError) {
    const std::pair<const char*, std::function<bool(Mailer&)>> rows[] = {
        {"an abort during the name lookup ends it with 10004", [](Mailer& m) {
             m.smtp.Host = "localhost";   // a name: always looked up later
             m.smtp.Connect();
             m.smtp.Abort();
             return m.Wait(1) && m.done[0] == Done{smtpConnect, 10004};
         }},
        {"a lookup that reaches the time limit ends with 10060, not the cancel's code", [](Mailer& m) {
             m.smtp.Host = "localhost";
             m.smtp.Open();
             m.smtp.ReachTimeLimit();
             return m.Wait(1) && m.done[0] == Done{smtpOpen, kSmtpTimeoutError} &&
                    m.smtp.LastResponse() == "500 Connection timed out (Winsock error #10060)";
         }},
        {"a cancel refused inside Abort still leaves the client ready", [](Mailer& m) {
             m.smtp.Host = "localhost";
             m.smtp.Connect();
             ws::ReplaceEntry("WSACancelAsyncRequest", StandIn(&RefuseCancel));
             EXPECT_THROW(m.smtp.Abort(), ESocketException);
             ws::ReplaceEntry("WSACancelAsyncRequest", nullptr);
             if (!m.Wait(1) || !(m.done[0] == Done{smtpConnect, 426})) return false;
             m.smtp.Quit();   // refused while the client stays aborting
             return m.Wait(2) && m.done[1] == Done{smtpQuit, 0};
         }},
        {"a lookup that cannot start lets the socket's exception through", [](Mailer& m) {
             m.smtp.Host = "";
             try {
                 m.smtp.Open();
             } catch (const ESocketException&) {
                 return m.smtp.State() == smtpReady;
             } catch (...) {
             }
             return false;
         }},
    };
    for (const auto& [what, holds] : rows) {
        Mailer m("25");
        EXPECT_TRUE(holds(m)) << what;
    }
}

TEST(SmtpSender, AttachmentsMakeAMultipartMessage) {
    std::string bytes;
    for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(i * 7 + 3);
    std::string data = TempFile("krv_smtp_att.bin", bytes);
    std::string empty = TempFile("krv_smtp_empty.txt", "");
    ScriptedSmtp server;
    Mailer m(server.Port());
    TStringList files;
    files.Add("  " + data + "  ");
    files.Add("");
    files.Add(empty);
    m.smtp.SetEmailFiles(files);
    EXPECT_EQ(m.smtp.EmailFiles().Count(), 2);
    TStringList body;
    body.Add("see attached");
    m.smtp.SetMailMessage(body);
    m.smtp.OnAttachContentType = [](TObject*, int n, const std::string&, std::string& type) {
        if (n == 1) type = "text/plain";
    };
    m.RunSession();
    ASSERT_TRUE(m.SessionEnded());
    EXPECT_EQ(m.done.back(), (Done{smtpQuit, 0}));
    auto lines = MailLines(server.message);
    auto ct = std::find_if(lines.begin(), lines.end(), [](auto& l) { return l.rfind("Content-Type:", 0) == 0; });
    ASSERT_NE(ct, lines.end());
    EXPECT_EQ(*ct, "Content-Type: multipart/mixed;");
    std::smatch mt;
    ASSERT_TRUE(std::regex_match(ct[1], mt, std::regex("\tboundary=\"(= Multipart Boundary \\d{10}[^\"]*)\"")));
    std::string b = mt[1];
    auto at = std::find(lines.begin(), lines.end(), "This is a multipart MIME message.");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(at[2], "--" + b);
    EXPECT_EQ(at[3], "Content-Type: text/plain; charset=\"iso-8859-1\"");
    EXPECT_EQ(at[6], "see attached");
    EXPECT_EQ(lines.back(), "--" + b + "--");
    // Each part: its headers, an empty line, the Base64 lines up to the next boundary.
    std::vector<std::string> decoded, names, types;
    for (auto it = at + 7; it != lines.end(); ++it) {
        if (*it != "--" + b) continue;
        types.push_back(it[1]);
        names.push_back(it[5]);
        EXPECT_EQ(it[6], "");
        std::string b64;
        auto l = it + 7;
        for (; l != lines.end() && l->rfind("--", 0) != 0; ++l) {
            EXPECT_LE(l->size(), 60u);
            b64 += *l;
        }
        decoded.push_back(Base64Decode(b64));
    }
    EXPECT_EQ(types, (std::vector<std::string>{"Content-Type: application/octet-stream;", "Content-Type: text/plain;"}));
    EXPECT_EQ(names, (std::vector<std::string>{"\tfilename=\"krv_smtp_att.bin\"", "\tfilename=\"krv_smtp_empty.txt\""}));
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[0], bytes);
    EXPECT_EQ(decoded[1], "");
    TStringList missing;
    missing.Add(data + ".gone");
    try {
        m.smtp.SetEmailFiles(missing);
        ADD_FAILURE();
    } catch (const SmtpException& e) {
        EXPECT_EQ(std::string(e.what()), "File not found '" + data + ".gone'");
    }
    // The names before the missing one are kept, the old list is gone.
    TStringList partly;
    partly.Add(empty);
    partly.Add(data + ".gone");
    partly.Add(data);
    EXPECT_THROW(m.smtp.SetEmailFiles(partly), SmtpException);
    ASSERT_EQ(m.smtp.EmailFiles().Count(), 1);
    EXPECT_EQ(m.smtp.EmailFiles()[0], empty);
    ::DeleteFileA(data.c_str());
    ::DeleteFileA(empty.c_str());
}

TEST(SmtpSender, LongBodyLinesArriveWhole) {
    ScriptedSmtp server;
    Mailer m(server.Port());
    std::string longLine = std::string(1500, 'a') + std::string(1200, 'b');
    TStringList body;
    body.Add(longLine);
    m.smtp.SetMailMessage(body);
    m.RunSession();
    ASSERT_TRUE(m.SessionEnded());
    auto lines = MailLines(server.message);
    auto sep = std::find(lines.begin(), lines.end(), "");
    ASSERT_NE(sep, lines.end());
    std::string joined;
    for (auto it = sep + 1; it != lines.end(); ++it) {
        EXPECT_LE(it->size(), kSmtpMaxLineLength);
        joined += *it;
    }
    EXPECT_EQ(joined, longLine);
}

TEST(SmtpClient, MangledRepliesNeverCrashOrHang) {
    std::mt19937 rng(1107);
    const std::vector<std::string> seeds = {"220 ok\r\n", "250-a\r\n250 b\r\n", "354 go\r\n", "334 PDE+\r\n",
                                            "221 bye\r\n", "550 no\r\n"};
    for (int round = 0; round < 12; ++round) {
        ScriptedSmtp server;
        auto mangle = [&](std::string s) {
            int edits = 1 + static_cast<int>(rng() % 4);
            for (int e = 0; e < edits && !s.empty(); ++e) {
                size_t at = rng() % s.size();
                switch (rng() % 3) {
                case 0: s[at] = static_cast<char>(rng() % 256); break;
                case 1: s.erase(at, 1); break;
                default: s.insert(at, 1, "\r\n-0 "[rng() % 5]); break;
                }
            }
            return s;
        };
        server.banner = round % 3 == 0 ? mangle(seeds[0]) : seeds[0];
        for (auto& [verb, reply] : server.replies) reply = mangle(seeds[rng() % seeds.size()]);
        Mailer m(server.Port());
        m.smtp.Timeout = 1;
        m.smtp.AuthType = static_cast<TSmtpAuthType>(rng() % 4);
        m.RunSession();
        EXPECT_TRUE(m.SessionEnded()) << "round " << round;
        m.smtp.Abort();
        EXPECT_EQ(m.smtp.State(), smtpReady);
    }
}

TEST(SmtpClient, AHostThatDoesNotResolveEndsOpenWithTheLookupError) {
    Mailer m("25");
    m.smtp.Host = std::string(64, 'x') + ".invalid";   // never resolves, never leaves the machine
    m.smtp.Timeout = 15;
    Done d = m.OpenResult();
    EXPECT_EQ(d.rq, smtpOpen);
    EXPECT_NE(d.code, 0);
    EXPECT_NE(m.smtp.ErrorMessage().find("(Winsock error #"), std::string::npos) << m.smtp.ErrorMessage();
    EXPECT_EQ(m.smtp.State(), smtpReady);
}
