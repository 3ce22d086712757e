// Reply parsing: replies built into elements, unwrapped to `results`, and
// hostile or broken replies turned into failures.
#include <korvex/reply.h>
#include <korvex/status.h>

#include <adt/stab.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <malloc.h>
#include <unistd.h>

#include <korvex/http.h>

#include "../src/chunked.h"
#include "../src/invoke_common.h"
#include "korvex_support.h"

using testsupport::ElemPtr;
using testsupport::Outcome;
using testsupport::outcome_of;

namespace {

ElemPtr parse(const std::string& reply) {
    testsupport::ensure_started();
    xml_context_rec* context = xml_create();
    EXPECT_TRUE(context);
    EXPECT_EQ(xml_parse_string(reply.c_str(), context), 1);
    ElemPtr outcome(kx_reply_outcome(context));
    xml_destroy(context);
    EXPECT_TRUE(outcome);
    return outcome;
}

std::string reply(const std::string& inner) { return "<korvex version='1.1'>" + inner + "</korvex>"; }

std::string nested(int levels) {
    std::string open = "<korvex><results status='passed'>", close = "</results></korvex>";
    for (int i = 2; i < levels; ++i) {
        open += "<l>";
        close = "</l>" + close;
    }
    return open + close;
}

// A file whose text must never reach a reply.
class SecretFile {
public:
    SecretFile() : path_(std::filesystem::temp_directory_path() / ("kx-secret-" + std::to_string(::getpid()))) {
        std::ofstream(path_) << "TOPSECRET-MARKER";
    }
    ~SecretFile() { std::filesystem::remove(path_); }
    std::string url() const { return "file://" + path_.string(); }
    std::string path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// A peer that sends the start of a reply and then the same piece for ever,
// until the reader closes its end of the connection.
class EndlessPeer {
public:
    EndlessPeer(const std::string& head, const std::string& piece) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        connection_ = http_conn_wrap(new shttpc_rec{SHTTPC_PLAIN, fds[0], nullptr, nullptr, 0});
        writer_ = std::thread([this, fd = fds[1], head, piece] {
            for (bool ok = send_all(fd, head); ok;) ok = send_all(fd, piece);
            ::close(fd);
        });
    }
    ~EndlessPeer() {
        http_close(connection_);
        writer_.join();
    }
    EndlessPeer(const EndlessPeer&) = delete;
    EndlessPeer& operator=(const EndlessPeer&) = delete;

    http_conn_rec* connection() const { return connection_; }
    size_t sent() const { return sent_; }

private:
    bool send_all(int fd, const std::string& bytes) {
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return false;
            at += static_cast<size_t>(n);
            sent_ += static_cast<size_t>(n);
        }
        return true;
    }

    http_conn_rec* connection_ = nullptr;
    std::atomic<size_t> sent_{0};
    std::thread writer_;
};

std::string chunk(const std::string& data) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

}  // namespace

TEST(ReplyParsing, ReturnsTheResultsElementWithItsOutputs) {
    ElemPtr r = parse(reply("<results status=\"passed\"><version>Zarvo 7.3</version><n>5</n></results>"));
    ASSERT_STREQ(r->name, "results");
    EXPECT_EQ(kx_results_passed(r.get()), 1);
    EXPECT_STREQ(kx_child_text(r.get(), "version"), "Zarvo 7.3");
    EXPECT_EQ(kx_child_int(r.get(), "n", -1), 5);
    EXPECT_EQ(r->next, nullptr);
}

TEST(ReplyParsing, PassesTheAppliancesOwnFailureThrough) {
    ElemPtr r = parse(reply("<results status='failed' reason='LUN not found' errno='9017'/>"));
    const Outcome o = outcome_of(r.get());
    EXPECT_FALSE(o.passed);
    EXPECT_EQ(o.error, 9017);
    EXPECT_EQ(o.reason, "LUN not found");
}

TEST(ReplyParsing, KeepsEachElementsOwnCharacterDataOnly) {
    ElemPtr r = parse(reply("<results status='passed'>\n  <a>x<b>inner</b>y</a>\n  <empty/><c><![CDATA[<raw&>]]></c>\n</results>"));
    EXPECT_STREQ(r->text, "\n  \n  \n");
    kx_elem_rec* a = kx_elem_find_child(r.get(), "a");
    ASSERT_TRUE(a);
    EXPECT_STREQ(a->text, "xy");
    EXPECT_STREQ(kx_child_text(a, "b"), "inner");
    EXPECT_EQ(kx_elem_find_child(r.get(), "empty")->text, nullptr);
    EXPECT_STREQ(kx_child_text(r.get(), "empty"), "");
    EXPECT_STREQ(kx_child_text(r.get(), "c"), "<raw&>");
}

TEST(ReplyParsing, RepliedElementsTakeNewTextsChildrenAndAttributes) {
    // Texts on either side of what an element's own block holds at first, and
    // of what is still copied into it rather than handed over.
    const std::string longText(5000, 'l'), t39(39, '9'), t40(40, '4'), t1024(1024, 'k');
    ElemPtr r = parse(reply("<results status='passed'><a>short</a><b>" + longText + "</b><c>x<d>y</d></c><e>" + t39 +
                            "</e><f>" + t40 + "</f><g>" + t1024 + "</g></results>"));
    ASSERT_TRUE(r);
    EXPECT_STREQ(kx_child_text(r.get(), "b"), longText.c_str());
    EXPECT_EQ(kx_child_text(r.get(), "e"), t39);
    EXPECT_EQ(kx_child_text(r.get(), "f"), t40);
    EXPECT_EQ(kx_child_text(r.get(), "g"), t1024);
    for (const char* name : {"a", "b", "c", "e", "f", "g"}) {
        kx_elem_rec* e = kx_elem_find_child(r.get(), name);
        ASSERT_TRUE(e) << name;
        EXPECT_EQ(kx_elem_set_text(e, "replaced"), 1);
        EXPECT_EQ(kx_elem_put_attr(e, "k", "v"), 1);
        EXPECT_TRUE(kx_child_add_text(e, "added", "t"));
        EXPECT_STREQ(e->text, "replaced");
        EXPECT_STREQ(e->name, name);
    }
    EXPECT_STREQ(kx_child_text(kx_elem_find_child(r.get(), "c"), "d"), "y");
    EXPECT_EQ(r->lastChild, kx_elem_find_child(r.get(), "g"));
}

TEST(ReplyParsing, ReplacesPredefinedEntitiesAndCharacterReferences) {
    ElemPtr r = parse(reply("<results status='passed' reason='a&amp;b&lt;&#233;&quot;'>"
                            "<comment>1 &lt; 2 &amp;&amp; &apos;q&apos; &#x263A;</comment></results>"));
    EXPECT_STREQ(stab_get(r->attributes, "reason"), "a&b<\xc3\xa9\"");
    EXPECT_STREQ(kx_child_text(r.get(), "comment"), "1 < 2 && 'q' \xe2\x98\xba");
}

TEST(ReplyParsing, AcceptsTwentyLevelsAndRefusesTwentyOne) {
    ElemPtr ok = parse(nested(20));
    EXPECT_EQ(kx_results_passed(ok.get()), 1);
    const Outcome deep = outcome_of(parse(nested(21)).get());
    EXPECT_FALSE(deep.passed);
    EXPECT_EQ(deep.error, KX_ERR_PARSE);
    EXPECT_EQ(deep.reason, "Parsing error in results: XML is too deeply nested!");
}

TEST(ReplyParsing, ReportsTheParsersMessagesForABrokenReply) {
    struct Case {
        const char* reply;
        const char* message;
    };
    const Case cases[] = {
        {"<korvex><results status='passed'><a>1</a>", ""},  // the wording differs between libxml2 releases
        {"<korvex><results status='passed'><unclosed></results></korvex>", "Opening and ending tag mismatch"},
        {"<korvex><results status='passed'/></korvex><second/>", "Extra content at the end of the document"},
        {"<korvex><results status='passed'>&bogus;</results></korvex>", "Entity 'bogus' not defined"},
    };
    for (const Case& c : cases) {
        const Outcome o = outcome_of(parse(c.reply).get());
        EXPECT_FALSE(o.passed) << c.reply;
        EXPECT_EQ(o.error, KX_ERR_PARSE) << c.reply;
        EXPECT_EQ(o.reason.rfind("Parsing error in results: ", 0), 0u) << o.reason;
        EXPECT_GT(o.reason.size(), std::strlen("Parsing error in results: ") + 1) << o.reason;
        EXPECT_NE(o.reason.find(c.message), std::string::npos) << c.reply << " -> " << o.reason;
    }
}

TEST(ReplyParsing, RefusesRepliesWithoutTheRootOrResults) {
    struct Case {
        const char* reply;
        const char* reason;
    };
    const Case cases[] = {
        {"", "No korvex element in response"},
        {"<other><results status='passed'/></other>", "No korvex element in response"},
        {"<z:korvex xmlns:z='u'><results status='passed'/></z:korvex>", "No korvex element in response"},
        {"<korvex><result status='passed'/></korvex>", "No results element in response"},
        {"<korvex/>", "No results element in response"},
    };
    for (const Case& c : cases) {
        const Outcome o = outcome_of(parse(c.reply).get());
        EXPECT_FALSE(o.passed);
        EXPECT_EQ(o.error, KX_ERR_TRANSPORT) << c.reply;
        EXPECT_EQ(o.reason, c.reason) << c.reply;
    }
}

TEST(ReplyParsing, ReturnsTheWholeRootBesideASecondChild) {
    ElemPtr r = parse(reply("<results status='passed'/><extra/>"));
    EXPECT_STREQ(r->name, "korvex");
    EXPECT_NE(kx_elem_find_child(r.get(), "results"), nullptr);
    const Outcome o = outcome_of(r.get());
    EXPECT_FALSE(o.passed);
    EXPECT_EQ(o.reason, "Unknown");
}

// Each thread keeps its parser between replies: what one reply did to it
// (declarations, encoding, a stop at a limit, a grown dictionary) never
// shows in the next one.
TEST(ReplyParsing, AReplyParsesAsIfItWereTheThreadsFirst) {
    std::string manyNames = "<korvex><results status='passed'>";
    for (int i = 0; i < 5000; ++i) manyNames += "<name-of-some-length-" + std::to_string(i) + "/>";
    manyNames += "</results></korvex>";
    const struct {
        const char* what;
        std::string before;
        std::string reply;
        const char* text;    // the text of the child "v" when the reply passes
        const char* reason;  // the start of the reason when it fails
    } cases[] = {
        {"after a reply cut short", "<korvex><results status='passed'><a>1</a>",
         reply("<results status='passed'><v>x</v></results>"), "x", nullptr},
        {"after an entity was declared", "<!DOCTYPE korvex [<!ENTITY e 'declared'>]>" + reply("<results status='passed'/>"),
         reply("<results status='passed'><v>&e;</v></results>"), nullptr, "Parsing error in results: "},
        {"after another encoding", "<?xml version='1.0' encoding='ISO-8859-1'?>" + reply("<results status='passed'><v>\xe9</v></results>"),
         reply("<results status='passed'><v>\xc3\xa9</v></results>"), "\xc3\xa9", nullptr},
        {"after nesting beyond the limit", nested(21), nested(20), nullptr, nullptr},
        {"after an oversized document type", "<!DOCTYPE korvex [" + std::string(2 * XML_INTERNAL_SUBSET_MAX, ' '),
         reply("<results status='passed'><v>y</v></results>"), "y", nullptr},
        {"after many distinct names", manyNames, reply("<results status='passed'><v>z</v></results>"), "z", nullptr},
    };
    for (const auto& c : cases) {
        parse(c.before);
        ElemPtr r = parse(c.reply);
        const Outcome o = outcome_of(r.get());
        if (c.reason) {
            EXPECT_FALSE(o.passed) << c.what;
            EXPECT_EQ(o.reason.rfind(c.reason, 0), 0u) << c.what << ": " << o.reason;
            continue;
        }
        EXPECT_TRUE(o.passed) << c.what << ": " << o.reason;
        if (c.text) {
            const char* text = kx_child_text(r.get(), "v");
            EXPECT_STREQ(text ? text : "(none)", c.text) << c.what;
        }
    }
}

TEST(UntrustedReply, BytesTheDeclaredEncodingCannotConvertFailTheReplyAndStayOffStandardError) {
    ::testing::internal::CaptureStderr();
    const Outcome o = outcome_of(
        parse("<?xml version='1.0' encoding='EUC-JP'?>" + reply("<results status='passed'><a>\xff\xff\xff\xff</a></results>"))
            .get());
    const std::string written = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(o.passed);
    EXPECT_EQ(o.error, KX_ERR_PARSE);
    EXPECT_NE(o.reason.find("input conversion failed"), std::string::npos) << o.reason;
    EXPECT_EQ(written, "");
}

TEST(UntrustedReply, NeverReadsAnExternalEntity) {
    SecretFile secret;
    const std::string replies[] = {
        "<!DOCTYPE korvex [<!ENTITY x SYSTEM '" + secret.url() + "'>]>" +
            reply("<results status='passed'><v>&x;</v></results>"),
        "<!DOCTYPE korvex [<!ENTITY x SYSTEM '" + secret.path() + "'>]>" +
            reply("<results status='passed' reason='&x;'/>"),
        "<!DOCTYPE korvex [<!ENTITY % p SYSTEM '" + secret.url() + "'> %p;]>" +
            reply("<results status='passed'/>"),
        "<!DOCTYPE korvex SYSTEM '" + secret.url() + "'>" + reply("<results status='passed'><v>&x;</v></results>"),
    };
    for (const std::string& text : replies) {
        ElemPtr r = parse(text);
        const Outcome o = outcome_of(r.get());
        std::string everything = o.reason;
        if (const char* v = kx_child_text(r.get(), "v")) everything += v;
        EXPECT_EQ(everything.find("TOPSECRET"), std::string::npos) << text;
        EXPECT_FALSE(o.passed) << text;
        EXPECT_EQ(o.error, KX_ERR_PARSE) << o.reason;
    }
}

TEST(UntrustedReply, ExpandsNoNestedEntities) {
    std::string doctype = "<!DOCTYPE korvex [<!ENTITY a0 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'>";
    for (int i = 1; i <= 12; ++i) {
        const std::string prev = "&a" + std::to_string(i - 1) + ";";
        std::string value;
        for (int k = 0; k < 10; ++k) value += prev;
        doctype += "<!ENTITY a" + std::to_string(i) + " '" + value + "'>";
    }
    doctype += "]>";
    const auto start = std::chrono::steady_clock::now();
    const Outcome text = outcome_of(parse(doctype + reply("<results status='passed'><v>&a12;</v></results>")).get());
    const Outcome attribute = outcome_of(parse(doctype + reply("<results status='passed' reason='&a12;'/>")).get());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    for (const Outcome& o : {text, attribute}) {
        EXPECT_FALSE(o.passed);
        EXPECT_EQ(o.error, KX_ERR_PARSE);
        EXPECT_LT(o.reason.size(), 20000u);
    }
}

TEST(UntrustedReply, AReplyThatNeverEndsIsCutAtItsBudget) {
    testsupport::ensure_started();
    const std::string head = "<korvex><results status='passed'><pad>";
    const std::string text(65536, 'x');
    struct Case {
        const char* framing;
        std::string head, piece;
        long length;  // -1: read to the close; 0: chunked
        size_t budget;
    };
    const Case cases[] = {
        {"to the close", head, text, -1, XML_REPLY_BUDGET},
        {"a length beyond the budget", head, text, LONG_MAX, size_t{1} << 20},
        {"chunked", chunk(head), chunk(text), 0, size_t{1} << 20},
    };
    for (const Case& c : cases) {
        EndlessPeer peer(c.head, c.piece);
        xml_context_rec* context = xml_create();
        context->budget = c.budget;
        if (c.length == 0) xml_parse_stream_chunked(peer.connection(), context);
        else xml_parse_stream(peer.connection(), context, c.length);
        const Outcome o = outcome_of(ElemPtr(kx_reply_outcome(context)).get());
        xml_destroy(context);
        EXPECT_FALSE(o.passed) << c.framing;
        EXPECT_EQ(o.error, KX_ERR_PARSE) << c.framing;
        EXPECT_EQ(o.reason, "Parsing error in results: XML reply is too large!") << c.framing;
        // Reading stopped at the budget; only what the socket buffers held went further.
        EXPECT_LT(peer.sent(), c.budget + (size_t{8} << 20)) << c.framing;
    }
}

TEST(UntrustedReply, ElementsAndAttributesCostMoreThanTheirBytes) {
    testsupport::ensure_started();
    std::string attributed;
    for (int i = 0; i < 2000; ++i) attributed += "<a b=''/>";
    const struct {
        std::string reply;
        bool fits;
    } cases[] = {
        {reply("<results status='passed'><pad>" + std::string(attributed.size(), 'x') + "</pad></results>"), true},
        {reply("<results status='passed'>" + attributed + "</results>"), false},
    };
    for (const auto& c : cases) {
        xml_context_rec* context = xml_create();
        context->budget = size_t{256} << 10;
        EXPECT_EQ(xml_parse_string(c.reply.c_str(), context), 1);
        const Outcome o = outcome_of(ElemPtr(kx_reply_outcome(context)).get());
        xml_destroy(context);
        EXPECT_EQ(o.passed, c.fits) << o.reason;
        if (!c.fits) {
            EXPECT_EQ(o.reason, "Parsing error in results: XML reply is too large!");
        }
    }
}

// Parses what an endless peer sends after `head`, `piece` repeated; the
// outcome and how much the peer managed to send.
std::pair<Outcome, size_t> parse_endless(const std::string& head, const std::string& piece) {
    testsupport::ensure_started();
    EndlessPeer peer(head, piece);
    xml_context_rec* context = xml_create();
    xml_parse_stream(peer.connection(), context, -1);
    const Outcome o = outcome_of(ElemPtr(kx_reply_outcome(context)).get());
    xml_destroy(context);
    return {o, peer.sent()};
}

std::string repeated(const std::string& unit, size_t bytes) {
    std::string s;
    while (s.size() < bytes) s += unit;
    return s;
}

TEST(UntrustedReply, NestingBeyondTheLimitStopsTheParseAndTheRead) {
    const auto [o, sent] = parse_endless("<korvex><results status='passed'>", repeated("<a>", 65536));
    EXPECT_EQ(o.error, KX_ERR_PARSE);
    EXPECT_EQ(o.reason, "Parsing error in results: XML is too deeply nested!");
    EXPECT_LT(sent, size_t{8} << 20) << "reading went on after the limit";
}

TEST(UntrustedReply, AnInternalSubsetOfMoreThanAFewKilobytesFailsAtOnce) {
    const std::string results = reply("<results status='passed'/>");
    const std::string declarations = repeated("<!ENTITY e 'value'>", XML_INTERNAL_SUBSET_MAX);
    const std::string tooLarge = "Parsing error in results: XML document type is too large!";
    const struct {
        const char* what;
        std::string text;
        bool passes;
    } cases[] = {
        {"a small subset", "<!DOCTYPE korvex [<!ENTITY e 'value'>]>" + results, true},
        {"a large subset", "<!DOCTYPE korvex [" + declarations + "]>" + results, false},
        {"ten megabytes in one open literal", "<!DOCTYPE korvex [<!ENTITY e '" + std::string(10 << 20, 'x'), false},
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const Outcome o = outcome_of(parse(c.text).get());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.what;
        EXPECT_EQ(o.passed, c.passes) << c.what << ": " << o.reason;
        if (!c.passes) {
            EXPECT_EQ(o.reason, tooLarge) << c.what;
        }
    }
    const auto [o, sent] = parse_endless("<!DOCTYPE korvex [<!ENTITY e '", std::string(65536, 'x'));
    EXPECT_EQ(o.reason, tooLarge);
    EXPECT_LT(sent, size_t{8} << 20) << "reading went on after the subset failed";
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
size_t status_kib(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::stoul(line.substr(std::strlen(field) + 1));
    return 0;
}

// The resident memory that the parse of `text` adds at its peak, the parsed
// tree still held, measured in a child process of its own.
size_t peak_bytes_added_by_parse(const std::string& text) {
    int fds[2];
    if (::pipe(fds) != 0) return SIZE_MAX;
    const pid_t child = ::fork();
    if (child == 0) {
        ::malloc_trim(0);  // free heap pages left by earlier tests would hide what the parse takes
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
        const size_t before = status_kib("VmRSS:");
        xml_context_rec* context = xml_create();
        xml_parse_string(text.c_str(), context);
        kx_elem_rec* kept = kx_reply_outcome(context);
        xml_destroy(context);
        const size_t added = (status_kib("VmHWM:") - before) * 1024;
        kx_elem_destroy(kept);
        (void)!::write(fds[1], &added, sizeof added);
        ::_exit(0);
    }
    ::close(fds[1]);
    size_t added = SIZE_MAX;
    if (::read(fds[0], &added, sizeof added) != sizeof added) added = SIZE_MAX;
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return added;
}

TEST(UntrustedReply, ALongTextIsHeldOnce) {
    testsupport::ensure_started();
    const size_t length = size_t{32} << 20;
    const std::string text = reply("<results status='passed'>\n  <big>" + std::string(length, 't') + "</big>\n</results>");
    // Held twice (collected, then copied into the element) it takes at least
    // twice its length; growing it by doubling leaves a freed half behind.
    EXPECT_LT(peak_bytes_added_by_parse(text), length + 3 * length / 4);
}
#endif

TEST(ChunkDecoder, JoinsTheChunksOfABody) {
    struct Case {
        std::string framed;
        std::string body;
        chunk_decoder::State end;
    };
    const Case cases[] = {
        {"5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world", chunk_decoder::State::Done},
        {"A;name=value\r\n0123456789\r\n0\r\nTrailer: x\r\n\r\n", "0123456789", chunk_decoder::State::Done},
        {"3\nabc\n0\n\n", "abc", chunk_decoder::State::Done},
        {"3\r\nabc\r\n", "abc", chunk_decoder::State::SizeLine},
        {"zz\r\nabc\r\n0\r\n\r\n", "", chunk_decoder::State::Bad},
        {"\r\n", "", chunk_decoder::State::Bad},
        {"3\r\nabcX\r\n", "abc", chunk_decoder::State::Bad},
        {"1000000000000000\r\n", "", chunk_decoder::State::Bad},
    };
    for (const Case& c : cases) {
        for (size_t piece : {c.framed.size(), size_t{1}}) {
            chunk_decoder decoder;
            std::string body;
            for (size_t at = 0; at < c.framed.size() && !decoder.finished(); at += piece) {
                std::string part = c.framed.substr(at, piece);
                body.append(part.data(), decoder.decode(part.data(), part.size()));
            }
            EXPECT_EQ(body, c.body) << c.framed;
            EXPECT_EQ(decoder.state(), c.end) << c.framed;
        }
    }
}
