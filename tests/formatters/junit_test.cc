#include "src/formatters/junit.h"

#include <chrono>
#include <memory>
#include <string>

#include "include/velt/test.h"
#include "src/console.h"

namespace velt {
namespace {

// Records what is written; fails every write after `fail_after` writes.
class MemoryTerminal final : public Terminal {
 public:
  MemoryTerminal(std::shared_ptr<std::string> sink, int fail_after)
      : out(std::move(sink)), writes_left(fail_after) {}
  IoResult<std::size_t> write(std::string_view bytes) override {
    if (writes_left-- <= 0) return Err{IoError{32, "Broken pipe"}};
    *out += bytes;
    return bytes.size();
  }
  IoResult<void> flush() override { return {}; }
  IoResult<bool> fg(Color) override { return true; }
  IoResult<bool> reset() override { return true; }

 private:
  std::shared_ptr<std::string> out;
  int writes_left;
};

struct Fixture {
  std::shared_ptr<std::string> out = std::make_shared<std::string>();
  JunitFormatter fmt;
  ConsoleTestState st;

  explicit Fixture(int fail_after = 1 << 30)
      : fmt(ToTerminal{std::make_unique<MemoryTerminal>(out, fail_after)}) {}
};

TestDesc desc(std::string_view name, TestType type = TestType::UnitTest) {
  TestDesc d{StaticName{name}};
  d.test_type = type;
  return d;
}

// What an XML reader makes of str_to_cdata's output: the sections' text joined, with the
// references between them. Empty when the text is not a sequence of both.
std::optional<std::string> read_cdata(std::string_view xml) {
  std::string text;
  while (!xml.empty()) {
    if (xml.starts_with("&#xA;")) {
      text += '\n';
      xml.remove_prefix(5);
    } else if (xml.starts_with("<![CDATA[")) {
      std::size_t end = xml.find("]]>");
      if (end == std::string_view::npos) return std::nullopt;
      text += xml.substr(9, end - 9);
      xml.remove_prefix(end + 3);
    } else {
      return std::nullopt;
    }
  }
  return text;
}

}  // namespace
}  // namespace velt

VELT_TEST(junit::parse_class_name) {
  using velt::TestType;
  const struct {
    std::string_view name;
    TestType type;
    std::string class_name, test_name;
  } cases[] = {
      {"tests::parse::empty", TestType::UnitTest, "tests::parse", "empty"},
      {"smoke", TestType::UnitTest, "crate", "smoke"},
      {"a:::b", TestType::UnitTest, "a", ":b"},  // separators found from the left
      {"a::", TestType::UnitTest, "a", ""},
      {"tests::x", TestType::IntegrationTest, "integration", "tests::x"},
      {"tests::x", TestType::Unknown, "unknown", "tests::x"},
      {"doc/intro.md - parse (line 12)", TestType::DocTest, "doc/intro.md", "parse (line 12)"},
      {"\t a.md  -  b \xe3\x80\x80", TestType::DocTest, "a.md", "b"},  // U+3000 is white space
      {"\xc2\xa0"
       "a.md - b\xc3\xa9",
       TestType::DocTest, "a.md", "b\xc3\xa9"},
      {"doc/a - b - c", TestType::DocTest, "doc/a", "b - c"},
      {"doc/no-separator", TestType::DocTest, "doctest", "doc/no-separator"},
      {"a-b", TestType::DocTest, "doctest", "a-b"},
  };
  for (const auto& c : cases) {
    velt::JunitName got = velt::parse_class_name(velt::desc(c.name, c.type));
    VELT_ASSERT_EQ(got.class_name, c.class_name, "name {}", c.name);
    VELT_ASSERT_EQ(got.test_name, c.test_name, "name {}", c.name);
  }
}

VELT_TEST(junit::str_to_cdata) {
  const std::string fffd = "\xef\xbf\xbd";
  const struct {
    std::string_view text;
    std::string want;
    std::string read_back;  // when it differs from the text
  } cases[] = {
      {"", "<![CDATA[]]>", ""},
      {"boom", "<![CDATA[boom]]>", ""},
      {"a\nb", "<![CDATA[a]]>&#xA;<![CDATA[b]]>", ""},
      {"\n\n", "<![CDATA[]]>&#xA;&#xA;<![CDATA[]]>", ""},
      {"a\n\n\nb", "<![CDATA[a]]>&#xA;&#xA;&#xA;<![CDATA[b]]>", ""},
      {"x]]>y", "<![CDATA[x]]]]><![CDATA[>y]]>", ""},
      {"]]]>", "<![CDATA[]]]]]><![CDATA[>]]>", ""},
      {"<?xml?>", "<![CDATA[<]]><![CDATA[?xml?>]]>", ""},
      {"]]>\n<?", "<![CDATA[]]]]><![CDATA[>]]>&#xA;<![CDATA[<]]><![CDATA[?]]>", ""},
      // Literal CDATA markup in the output is text like any other.
      {"<![CDATA[\n", "<![CDATA[<![CDATA[]]>&#xA;<![CDATA[]]>", ""},
      {"tab\tcr\r", "<![CDATA[tab\tcr\r]]>", ""},
      // Characters no XML 1.0 document can hold.
      {std::string_view("a\0b\x1b\x7f", 5), "<![CDATA[a" + fffd + "b" + fffd + "\x7f]]>",
       "a" + fffd + "b" + fffd + "\x7f"},
      {"\xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbd", "<![CDATA[" + fffd + fffd + fffd + "]]>",
       fffd + fffd + fffd},
  };
  for (const auto& c : cases) {
    std::string got = velt::str_to_cdata(c.text);
    VELT_ASSERT_EQ(got, c.want, "text {}", c.text);
    VELT_ASSERT(got.find('\n') == std::string::npos);
    std::string want_back = c.read_back.empty() ? std::string(c.text) : c.read_back;
    VELT_ASSERT_EQ(velt::read_cdata(got), std::optional(want_back), "text {}", c.text);
  }
}

VELT_TEST(junit::escape_attribute) {
  const struct {
    std::string_view bytes;
    std::string want;
  } cases[] = {
      {"plain 'apos' \xc3\xa9", "plain 'apos' \xc3\xa9"},
      {"a&b<c>d\"e", "a&amp;b&lt;c&gt;d&quot;e"},
      {"l1\nl2\r\tx", "l1&#xA;l2&#xD;&#x9;x"},
      {"bell\x07 esc\x1b", "bell\xef\xbf\xbd esc\xef\xbf\xbd"},
      {"bad\xff end", "bad\xef\xbf\xbd end"},
      {"\xef\xbf\xbf", "\xef\xbf\xbd"},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(velt::escape_attribute(c.bytes), c.want, "bytes {}", c.bytes);
  }
}

VELT_TEST(junit::document) {
  using namespace std::chrono_literals;
  const double samples[] = {1.0, 2.0, 4.5};
  const struct {
    bool display_output;
    std::string ok_case;
  } cases[] = {
      {false, R"(<testcase classname="t" name="ok" time="0.25"/>)"},
      {true, R"(<testcase classname="t" name="ok" time="0.25"><system-out><![CDATA[shown]]>)"
             R"(</system-out></testcase>)"},
  };
  for (const auto& c : cases) {
    velt::Fixture f;
    f.st.options.display_output = c.display_output;
    velt::TestDesc ignored = velt::desc("t::skipped");
    ignored.ignore = true;
    VELT_ASSERT(f.fmt.write_run_start(6, std::nullopt).ok());
    VELT_ASSERT(f.fmt.write_test_start(velt::desc("t::ok")).ok());
    VELT_ASSERT(f.fmt.write_timeout(velt::desc("t::ok")).ok());
    VELT_ASSERT_EQ(*f.out, R"(<?xml version="1.0" encoding="UTF-8"?>)");  // nothing else yet
    VELT_ASSERT(
        f.fmt
            .write_result(velt::desc("t::ok"), velt::Ok{}, velt::TestExecTime{250ms}, "shown", f.st)
            .ok());
    VELT_ASSERT(
        f.fmt.write_result(velt::desc("t::bad"), velt::Failed{}, std::nullopt, "", f.st).ok());
    VELT_ASSERT(f.fmt
                    .write_result(velt::desc("t::msg"),
                                  velt::FailedWithMessage{"wanted \"x\"\n& <y>"},
                                  velt::TestExecTime{2s}, "a\nb", f.st)
                    .ok());
    VELT_ASSERT(f.fmt.write_result(ignored, velt::Ignored{}, std::nullopt, "", f.st).ok());
    VELT_ASSERT(f.fmt
                    .write_result(velt::desc("t::slow"), velt::TimeLimitExceeded{},
                                  velt::TestExecTime{1500ms}, "hidden", f.st)
                    .ok());
    VELT_ASSERT(f.fmt
                    .write_result(velt::desc("sum"),
                                  velt::Bench{velt::BenchSamples{velt::make_summary(samples), 0}},
                                  std::nullopt, "", f.st)
                    .ok());
    f.st.total = 6;
    f.st.failed = 3;
    f.st.ignored = 1;
    velt::IoResult<bool> r = f.fmt.write_run_finish(f.st);
    VELT_ASSERT(r.ok() && !*r);
    VELT_ASSERT_EQ(
        *f.out,
        R"(<?xml version="1.0" encoding="UTF-8"?><testsuites><testsuite name="test" package="test" )"
        R"(id="0" errors="0" failures="3" tests="6" skipped="1" >)" +
            c.ok_case +
            R"(<testcase classname="t" name="bad" time="0"><failure type="assert"/></testcase>)"
            R"(<testcase classname="t" name="msg" time="2"><failure message="wanted &quot;x&quot;)"
            R"(&#xA;&amp; &lt;y&gt;" type="assert"/><system-out><![CDATA[a]]>&#xA;<![CDATA[b]]>)"
            R"(</system-out></testcase>)"
            R"(<testcase classname="t" name="slow" time="1.5"><failure type="timeout"/></testcase>)"
            R"(<testcase classname="benchmark::crate" name="sum" time="7.5" />)"
            R"(<system-out/><system-err/></testsuite></testsuites>)"
            "\n");
  }
}

VELT_TEST(junit::empty_run_and_flag) {
  velt::Fixture f;
  VELT_ASSERT(f.fmt.write_run_start(0, 7).ok());
  velt::IoResult<bool> r = f.fmt.write_run_finish(f.st);
  VELT_ASSERT(r.ok() && *r);
  VELT_ASSERT_EQ(*f.out,
                 R"(<?xml version="1.0" encoding="UTF-8"?><testsuites><testsuite name="test" )"
                 R"(package="test" id="0" errors="0" failures="0" tests="0" skipped="0" >)"
                 R"(<system-out/><system-err/></testsuite></testsuites>)"
                 "\n");
}

VELT_TEST(junit::errors) {
  velt::Fixture listing;
  velt::ConsoleTestDiscoveryState discovery;
  velt::IoResult<void> results[] = {listing.fmt.write_discovery_start(),
                                    listing.fmt.write_test_discovered(velt::desc("a"), "test"),
                                    listing.fmt.write_discovery_finish(discovery)};
  for (const velt::IoResult<void>& r : results) {
    VELT_ASSERT(!r.ok());
    VELT_ASSERT_EQ(r.error().debug(), "not yet implemented!");
  }
  VELT_ASSERT(listing.out->empty());

  // The first failing write ends the document: nothing after it is written.
  velt::Fixture f(/*fail_after=*/3);
  VELT_ASSERT(f.fmt.write_result(velt::desc("a"), velt::Ok{}, std::nullopt, "", f.st).ok());
  VELT_ASSERT(f.fmt.write_result(velt::desc("b"), velt::Ok{}, std::nullopt, "", f.st).ok());
  velt::IoResult<bool> r = f.fmt.write_run_finish(f.st);
  VELT_ASSERT(!r.ok());
  VELT_ASSERT_EQ(r.error().code, 32);
  VELT_ASSERT(f.out->ends_with(R"(<testcase classname="crate" name="a" time="0"/>)"), "{}", *f.out);
}
