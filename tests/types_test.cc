#include "src/types.h"

#include <string>

#include "include/velt/test.h"

namespace velt {
namespace {

TestDesc desc_named(std::string_view name) { return TestDesc{StaticName{name}}; }

}  // namespace
}  // namespace velt

VELT_TEST(types::padded_name) {
  using velt::NamePadding;
  const struct {
    std::string_view name;
    NamePadding padding;
    std::string want;
  } cases[] = {
      {"abc", NamePadding::PadRight, "abc       "},
      {"abc", NamePadding::NoPadding, "abc"},
      {"abcdefghijkl", NamePadding::PadRight, "abcdefghijkl"},  // longer than the column
      {"\xc3\xa9t\xc3\xa9", NamePadding::PadRight, "\xc3\xa9t\xc3\xa9     "},  // bytes, not chars
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(velt::desc_named(c.name).padded_name(10, c.padding), c.want, "name {}", c.name);
  }
}

VELT_TEST(types::test_mode_order) {
  velt::TestDesc d = velt::desc_named("a");
  VELT_ASSERT(!d.test_mode());
  d.compile_fail = d.compile_only = true;
  VELT_ASSERT_EQ(*d.test_mode(), "compile fail");
  d.should_panic = velt::ShouldPanic{velt::ShouldPanic::Yes, {}};
  VELT_ASSERT_EQ(*d.test_mode(), "should panic");
  d.ignore = true;  // ignored tests show no mode, whatever they expect
  VELT_ASSERT(!d.test_mode());
}

VELT_TEST(types::with_padding_keeps_text) {
  velt::TestName owned{velt::DynamicName{"dyn"}};
  velt::TestName aligned =
      owned.with_padding(velt::NamePadding::PadRight).with_padding(velt::NamePadding::NoPadding);
  VELT_ASSERT_EQ(aligned.as_slice(), "dyn");
  VELT_ASSERT_EQ(aligned.index(), 2u);
  VELT_ASSERT(aligned.padding() == velt::NamePadding::NoPadding);

  static const char text[] = "static";
  velt::TestName borrowed{velt::StaticName{text}};
  VELT_ASSERT_EQ(static_cast<const void*>(
                     borrowed.with_padding(velt::NamePadding::PadRight).as_slice().data()),
                 static_cast<const void*>(text));  // a reference stays a reference
}
