// The whole case table against Python's str.upper and str.lower, read at
// test time.  The only differences allowed are the ones the host's model
// of one code point to one needs, as letter_case.h states them.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/values/letter_case.h"

namespace vesko_host {
namespace {

using CodePoints = std::vector<char32_t>;

struct Reference {
  CodePoints lower, upper, title;
};

// Every code point whose lower, upper or title case is another, with the
// three mappings as Python gives them; empty when python3 cannot run.
std::map<char32_t, Reference> pythonCaseTable() {
  const char* script =
      "python3 -c '\n"
      "for cp in range(0x110000):\n"
      "    if 0xD800 <= cp <= 0xDFFF: continue\n"
      "    c = chr(cp)\n"
      "    if c.lower() != c or c.upper() != c or c.title() != c:\n"
      "        print(cp, *(\"+\".join(str(ord(x)) for x in m) for m in (c.lower(), c.upper(), "
      "c.title())))\n"
      "' 2>/dev/null";
  std::map<char32_t, Reference> table;
  FILE* pipe = popen(script, "r");
  if (pipe == nullptr) return table;
  auto parse = [](const std::string& field) {
    CodePoints points;
    std::istringstream in(field);
    for (std::string part; std::getline(in, part, '+');)
      points.push_back(static_cast<char32_t>(std::stoul(part)));
    return points;
  };
  char line[256];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream in(line);
    unsigned long cp;
    std::string lower, upper, title;
    if (in >> cp >> lower >> upper >> title) {
      table[static_cast<char32_t>(cp)] = {parse(lower), parse(upper), parse(title)};
    }
  }
  if (pclose(pipe) != 0) table.clear();
  return table;
}

TEST(LetterCaseTest, EveryCodePointMapsAsPythonDoes) {
  const std::map<char32_t, Reference> reference = pythonCaseTable();
  if (reference.empty()) GTEST_FAIL() << "cannot run: python3 is not available";
  std::vector<char32_t> lowerLonger;
  int differences = 0;
  for (char32_t cp = 0; cp < 0x110000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    char32_t lower = cp, upper = cp;
    const auto found = reference.find(cp);
    if (found != reference.end()) {
      const Reference& r = found->second;
      if (r.lower.size() == 1) {
        lower = r.lower[0];
      } else {
        lowerLonger.push_back(cp);
        if (cp == 0x130) lower = U'i';  // Python adds a combining dot above
      }
      if (r.upper.size() == 1) {
        upper = r.upper[0];
      } else if (r.title.size() == 1) {
        upper = r.title[0];  // the Greek letters with a subscript iota
      }
    }
    if (lowerOf(cp) != lower || upperOf(cp) != upper) {
      if (++differences <= 10) {
        ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned long>(cp) << ": lower "
                      << static_cast<unsigned long>(lowerOf(cp)) << " (want "
                      << static_cast<unsigned long>(lower) << "), upper "
                      << static_cast<unsigned long>(upperOf(cp)) << " (want "
                      << static_cast<unsigned long>(upper) << ")";
      }
    }
  }
  EXPECT_EQ(differences, 0);
  EXPECT_EQ(lowerLonger, std::vector<char32_t>{0x130});
}

TEST(LetterCaseTest, DottedAndDotlessI) {
  EXPECT_EQ(lowerOf(0x130), U'i');
  EXPECT_EQ(upperOf(0x131), U'I');
  EXPECT_EQ(upperOf(U'i'), U'I');
  EXPECT_EQ(lowerOf(U'I'), U'i');
  EXPECT_EQ(upperOf(0xDF), 0xDFu);      // the sharp s keeps its case
  EXPECT_EQ(upperOf(0x1F80), 0x1F88u);  // a subscript iota stays one code point
  EXPECT_EQ(lowerOf(0x10400), 0x10428u);
}

}  // namespace
}  // namespace vesko_host
