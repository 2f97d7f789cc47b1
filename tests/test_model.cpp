// Tests of the model catalogue: searches, records, the cache, the manufacturer
// name lists and the typed property queries.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ovik_printer_model.h"

namespace {

// The catalogue row of a 1-based row number.
const ovik_model_brief *row(int number)
{
  return &model_brief_table[number - 1];
}

// The fields a profile decides, on one line, so a failure shows what differed.
std::string describe(const ovik_printer_model &m)
{
  char text[256];
  std::snprintf(text, sizeof text,
                "%s type=0x%x width=%d codes=%u/%u attrs=%u,%u,%u,%u,%u/%u,%u,%u/%u pm=%d "
                "area='%s' motion_v=%g aux=%g",
                m.name, m.type, m.width_dots, m.code1, m.code2, m.attr1, m.attr2, m.attr3, m.attr4, m.attr5, m.attr6,
                m.attr7, m.attr8, m.attr9, m.pagemode_supported, m.pagemode_area, m.motion_v, m.aux_unit);
  return text;
}

// Buffer bytes as text: printable ones as they are, others as <hh>.
std::string shown(const void *buf, int n)
{
  std::string s;
  for (int i = 0; i < n; i++) {
    unsigned char c = static_cast<const unsigned char *>(buf)[i];
    char hex[8];
    std::snprintf(hex, sizeof hex, "<%02x>", c);
    s += (c >= 0x20 && c < 0x7f) ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return s;
}

// ---- catalogue rules that PPD generation relies on ----

// True for words of letters, digits and hyphens joined by single spaces.
bool typeable(const std::string &name)
{
  bool after_space = true; // no leading space
  for (char c : name) {
    if (c == ' ' && after_space)
      return false;
    if (c != ' ' && c != '-' && !std::isalnum(static_cast<unsigned char>(c)))
      return false;
    after_space = c == ' ';
  }
  return !after_space; // not empty, no trailing space
}

TEST(Catalogue, IdentityIsMakerAndNameAndDescriptionAddsTheCategory)
{
  const std::set<std::string> categories = {"Receipt Printer",       "Label/Receipt Printer", "Label Printer",
                                            "Receipt Control Board", "Label Control Board",   "Mobile Printer"};
  for (int n = 1; n < OVIK_MODEL_COUNT; n++) {
    const ovik_model_brief &r = *row(n);
    std::string maker = r.manufacturer;
    std::string identity = maker.empty() ? r.name : maker + " " + r.name;
    EXPECT_EQ(r.identity, identity) << "row " << n;
    std::string description = r.description;
    if (n == 79) // the one row without a category
      EXPECT_EQ(description, identity);
    else
      EXPECT_TRUE(description.rfind(identity + " ", 0) == 0 &&
                  categories.count(description.substr(identity.size() + 1)))
          << "row " << n << ": " << description;
  }
}

TEST(Catalogue, NamesAreTypeableAndNeverStandForTwoPrinters)
{
  std::map<std::string, std::tuple<int32_t, uint32_t, int32_t>> seen;
  for (const ovik_model_brief &r : model_brief_table) {
    EXPECT_TRUE(typeable(r.name)) << "'" << r.name << "'";
    EXPECT_LE(std::strlen(r.name), 24u) << r.name;
    EXPECT_LE(std::strlen(r.manufacturer), 20u) << r.manufacturer;
    auto printer = std::make_tuple(r.id, r.printer_class, r.width_dots);
    auto [it, fresh] = seen.emplace(r.name, printer);
    EXPECT_TRUE(fresh || it->second == printer) << "'" << r.name << "' names two printers";
  }
}

// ---- searches ----

TEST(Search, FirstMatchWinsAndTheLastRowCounts)
{
  EXPECT_EQ(ovik_printer_model_brief_find_by_id(0x1486), row(1));       // not row 105
  EXPECT_EQ(ovik_printer_model_brief_find_by_name("Tern 80A"), row(2)); // row 8 repeats it
  EXPECT_EQ(ovik_printer_model_brief_find_by_name("Keel 80"), row(105));
  EXPECT_EQ(ovik_printer_model_brief_find_by_identity("Vantrel Tern 80A"), row(8));
  EXPECT_EQ(ovik_printer_model_brief_find_by_id(-1), row(171));
  EXPECT_EQ(ovik_printer_model_brief_find_by_name("unknown"), row(171));
  EXPECT_EQ(ovik_printer_model_brief_find_by_identity(""), row(171));
}

TEST(Search, NoMatchGivesNothing)
{
  EXPECT_EQ(ovik_printer_model_brief_find_by_id(0x7777), nullptr);
  EXPECT_EQ(ovik_printer_model_brief_find_by_name("tern 80a"), nullptr); // case counts
  EXPECT_EQ(ovik_printer_model_brief_find_by_name("Tern 80A "), nullptr);
  EXPECT_EQ(ovik_printer_model_brief_find_by_name(nullptr), nullptr);
  EXPECT_EQ(ovik_printer_model_brief_find_by_identity("Ovik"), nullptr);
  EXPECT_EQ(ovik_printer_model_brief_find_by_identity(nullptr), nullptr);
}

TEST(Search, FindById2KeepsTheLastMatchAndLeavesOtherFields)
{
  ovik_model_brief out = {7, "m", "n", "i", "d", 0x55, 9, 1, 2, 3.0f};
  EXPECT_EQ(ovik_printer_model_brief_find_by_id2(0x1001, &out), 0);
  EXPECT_EQ(std::to_string(out.id) + " " + out.manufacturer + "|" + out.name + "|" + out.identity + "|" +
                out.description + " " + std::to_string(out.printer_class) + " " + std::to_string(out.width_dots) + " " +
                std::to_string(out.code1),
            "4097 m|Wren 80|i|Wrenfield Wren 80 Receipt Printer 85 576 1"); // row 12
  ovik_model_brief untouched = out;
  EXPECT_EQ(ovik_printer_model_brief_find_by_id2(0x7777, &out), 0);
  EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);
  EXPECT_EQ(ovik_printer_model_brief_find_by_id2(0x1001, nullptr), -1);
}

TEST(Search, InfoGivesTheRawClassNotTheRecordType)
{
  const char *name = nullptr;
  uint32_t printer_class = 0;
  int32_t width = 0;
  EXPECT_EQ(ovik_printer_model_get_info_by_id(0x1486, &name, &printer_class, &width), 0);
  EXPECT_EQ(std::string(name) + " " + std::to_string(printer_class) + " " + std::to_string(width), "Keel 58 1025 384");
  EXPECT_EQ(ovik_printer_model_get_info_by_name("Keel 80", &printer_class, &width), 0);
  EXPECT_EQ(std::to_string(printer_class) + " " + std::to_string(width), "257 576");
  EXPECT_EQ(ovik_printer_model_get_info_by_id(0x7777, &name, &printer_class, &width), -8);
  EXPECT_EQ(ovik_printer_model_get_info_by_name("Nothing", &printer_class, &width), -8);
}

// ---- records ----

struct record_case {
  int32_t id;
  int refill_result; // -8 for an id without properties of its own
  const char *record;
};

class Record : public testing::TestWithParam<record_case> {};

TEST_P(Record, CreatorAndRefillBuildTheSameRecord)
{
  const record_case &c = GetParam();
  ovik_printer_model *created = nullptr;
  ASSERT_EQ(ovik_printer_model_creator(c.id, &created), 0);
  EXPECT_EQ(describe(*created), c.record);
  EXPECT_EQ(created->name, ovik_printer_model_brief_find_by_id(c.id)->name) << "not copied";

  ovik_printer_model refilled{};
  refilled.struct_size = OVIK_MODEL_STRUCT_SIZE;
  EXPECT_EQ(ovik_printer_model_get_by_id(c.id, &refilled), c.refill_result);
  EXPECT_EQ(describe(refilled), c.record);
  EXPECT_EQ(ovik_printer_model_destroy(created), 0);
}

INSTANTIATE_TEST_SUITE_P(Profiles, Record,
                         testing::Values(record_case{0x1001, 0,
                                                     "Tern 80A type=0x10201 width=576 codes=8401/28680 "
                                                     "attrs=1,23,2,3,1/1,1,8/0 pm=1 area='576,936' motion_v=0.0625 "
                                                     "aux=0.0625"},
                                         record_case{0x1003, 0,
                                                     "Tern 80C type=0x30201 width=576 codes=8401/28680 "
                                                     "attrs=1,24,2,3,1/1,1,8/0 pm=1 area='576,936' motion_v=0.0625 "
                                                     "aux=0.0625"},
                                         record_case{0x1011, 0,
                                                     "Tern 58A type=0x110401 width=384 codes=8401/28680 "
                                                     "attrs=0,0,2,3,0/1,1,8/0 pm=0 area='' motion_v=0.125 aux=0.125"},
                                         record_case{0x1101, 0,
                                                     "Finch 58 type=0x10401 width=384 codes=8401/28680 "
                                                     "attrs=0,0,2,0,0/1,1,8/1 pm=0 area='' motion_v=0.125 aux=0.125"},
                                         record_case{0x1102, 0,
                                                     "Finch 80 type=0x20401 width=576 codes=8401/28680 "
                                                     "attrs=0,0,2,0,0/1,1,8/0 pm=1 area='' motion_v=0.125 aux=0.125"},
                                         record_case{0x1562, 0,
                                                     "Keel 58L type=0x621201 width=384 codes=8401/28680 "
                                                     "attrs=0,0,5,0,0/1,1,8/0 pm=1 area='' motion_v=0.125 aux=0.125"},
                                         record_case{0x1955, 0,
                                                     "Keel 80P type=0x550001 width=576 codes=8401/28680 "
                                                     "attrs=1,5,5,3,0/1,1,8/0 pm=0 area='' motion_v=0.0625 aux=0.125"},
                                         record_case{0x9601, 0,
                                                     "Lark 58 Duo type=0x10003 width=384 codes=8401/28680 "
                                                     "attrs=0,0,2,0,0/1,1,8/0 pm=0 area='' motion_v=0.125 aux=0.125"},
                                         record_case{0x3201, -8,
                                                     "Plover 80S type=0x10040 width=576 codes=8401/28680 "
                                                     "attrs=0,0,2,0,0/1,1,8/0 pm=0 area='' motion_v=0.125 aux=0.125"},
                                         record_case{-1, -8,
                                                     "unknown type=0xffffffff width=0 codes=0/0 "
                                                     "attrs=0,0,2,0,0/1,1,8/0 pm=0 area='' motion_v=0.125 aux=0"}));

TEST(Record, CreatorsByNameAndIdentityPickTheirOwnRow)
{
  ovik_printer_model *model = nullptr;
  ASSERT_EQ(ovik_printer_model_creator2("Keel 80", &model), 0);
  EXPECT_EQ(describe(*model), "Keel 80 type=0x860101 width=576 codes=8401/28680 "
                              "attrs=0,0,2,0,0/1,1,8/0 pm=0 area='' motion_v=0.125 aux=0.125");
  EXPECT_EQ(model->struct_size, 120u);
  EXPECT_EQ(std::to_string(model->resolution) + " " + std::to_string(model->motion_h) + " " + model->barcode_set + " " +
                model->fonts,
            "203 0.125000 " BARCODESET_DEFAULT " " FONTS_DEFAULT);
  ovik_printer_model_destroy(model);
  ASSERT_EQ(ovik_printer_model_creator_by_identity("Halcott HC-D80N", &model), 0);
  EXPECT_EQ(model->description, row(169)->description);
  ovik_printer_model_destroy(model);
}

TEST(Record, CreatorsRefuseUnknownModelsAndMissingOutputs)
{
  ovik_printer_model sentinel{};
  ovik_printer_model *model = &sentinel;
  EXPECT_EQ(ovik_printer_model_creator(0x7777, &model), -8);
  EXPECT_EQ(model, nullptr);
  model = &sentinel;
  EXPECT_EQ(ovik_printer_model_creator2("Unknown", &model), -8); // the maker, not the name
  EXPECT_EQ(model, nullptr);
  model = &sentinel;
  EXPECT_EQ(ovik_printer_model_creator_by_identity("Ovik Heron", &model), -8);
  EXPECT_EQ(model, nullptr);
  EXPECT_EQ(ovik_printer_model_creator(0x1001, nullptr), -1);
  EXPECT_EQ(ovik_printer_model_destroy(nullptr), -6);
}

TEST(Record, RefillRefusesBadRecordsAndLeavesThemOnUnknownModels)
{
  ovik_printer_model model{};
  model.struct_size = OVIK_MODEL_STRUCT_SIZE;
  ASSERT_EQ(ovik_printer_model_get_by_name("Finch 80", &model), 0);
  const std::string before = describe(model);
  EXPECT_EQ(ovik_printer_model_get_by_id(0x7777, &model), -8);
  EXPECT_EQ(ovik_printer_model_get_by_name("finch 80", &model), -8);
  EXPECT_EQ(describe(model), before);
  model.struct_size = 112;
  EXPECT_EQ(ovik_printer_model_get_by_id(0x1001, &model), -1);
  EXPECT_EQ(describe(model), before);
  EXPECT_EQ(ovik_printer_model_get_by_name("Tern 80A", nullptr), -1);
  EXPECT_EQ(model_set_properties(nullptr, &model), -1);
}

// ---- the record cache ----

class Cache : public testing::Test {
protected:
  void SetUp() override { ovik_printer_model_detach(); }
  void TearDown() override { ovik_printer_model_detach(); }
};

TEST_F(Cache, SameIdGivesTheSameRecordAndUnknownIdsNone)
{
  ovik_printer_model *a = nullptr, *b = nullptr, *c = nullptr;
  EXPECT_EQ(get_model_instance(0x1001, &a), 0);
  EXPECT_EQ(get_model_instance(0x1002, &c), 0);
  EXPECT_EQ(get_model_instance(0x1001, &b), 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(c->id, 0x1002);
  EXPECT_EQ(get_model_instance(0x7777, &c), -8);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(get_model_instance(0x1001, nullptr), -1);
}

TEST_F(Cache, QueriesByIdReadTheCachedRecordUntilDetach)
{
  ovik_printer_model *cached = nullptr;
  ASSERT_EQ(get_model_instance(0x1001, &cached), 0);
  cached->name = "Changed";
  int type = 0, length = 0;
  char buf[16] = {};
  EXPECT_EQ(ovik_printer_model_id_get_property(0x1001, PROP_MODEL_NAME, &type, buf, 16, &length), 0);
  EXPECT_EQ(std::string(buf, length), "Changed");
  ovik_printer_model_detach();
  EXPECT_EQ(ovik_printer_model_id_get_property(0x1001, PROP_MODEL_NAME, &type, buf, 16, &length), 0);
  EXPECT_EQ(std::string(buf, length), "Tern 80A");
  EXPECT_EQ(ovik_printer_model_id_get_property(0x7777, PROP_MODEL_NAME, &type, buf, 16, &length), -8);
}

// ---- manufacturer model-name lists ----

struct names_case {
  const char *manufacturer;
  int buf_len;
  int result;
  const char *list;
  int total;
};

class Names : public testing::TestWithParam<names_case> {};

TEST_P(Names, CopiesWhatFitsAndCountsAll)
{
  const names_case &c = GetParam();
  std::vector<char> buf(static_cast<size_t>(c.buf_len) + 16, 'Z');
  int total = -5;
  EXPECT_EQ(ovik_printer_model_get_manufacture_modelnames(c.manufacturer, buf.data(), c.buf_len, &total), c.result);
  EXPECT_EQ(std::string(buf.data()), c.list);
  EXPECT_EQ(total, c.total);
  EXPECT_EQ(std::string(buf.end() - 16, buf.end()), std::string(16, 'Z')) << "wrote past buf_len";
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Names,
    testing::Values(names_case{"Wrenfield", 200, 0,
                               "Wren 80\tWren 80 II\tWren 80 III\tWren 58\tWren 58S\tWren L4\tWren D80\t", 58},
                    // a long name is skipped, a later shorter one still fits
                    names_case{"Wrenfield", 30, 0, "Wren 80\tWren 80 II\tWren 58\t", 58},
                    names_case{"Wrenfield", 29, 0, "Wren 80\tWren 80 II\tWren 58\t", 58},
                    names_case{"Wrenfield", 28, 0, "Wren 80\tWren 80 II\t", 58}, names_case{"Wrenfield", 5, 0, "", 58},
                    names_case{"", 100, 0, "Tern 80B\tPlover 80S\t", 18}, names_case{"Nobody", 100, -1, "", 0},
                    names_case{"wrenfield", 100, -1, "", 0}, names_case{nullptr, 100, -1, "", 0}));

TEST(Names, BufferAndTotalAreOptionalInTheirOwnWays)
{
  int total = 0;
  EXPECT_EQ(ovik_printer_model_get_manufacture_modelnames("Wrenfield", nullptr, 0, &total), 0);
  EXPECT_EQ(total, 58);
  char buf[100] = {'Z'};
  EXPECT_EQ(ovik_printer_model_get_manufacture_modelnames("Wrenfield", buf, 0, &total), 0);
  EXPECT_EQ(buf[0], 'Z') << "a zero-length buffer takes no terminator";
  EXPECT_EQ(ovik_printer_model_get_manufacture_modelnames("Wrenfield", buf, 100, nullptr), -1);
}

TEST(Names, WideListHoldsTheNamesThatFitItsCapacity)
{
  std::vector<wchar_t> buf(40, L'Z'); // 160 bytes; the first 120 are offered
  int total = 0;
  EXPECT_EQ(ovik_printer_model_get_manufacture_modelnames_wchar("Wrenfield", buf.data(), 120, &total), 1);
  EXPECT_EQ(total, 58);
  EXPECT_EQ(std::wstring(buf.data(), 40),
            std::wstring(L"Wren 80\tWren 80 II\tWren 58\t") + std::wstring(3, L'\0') + std::wstring(10, L'Z'));
  EXPECT_EQ(ovik_printer_model_get_manufacture_modelnames_wchar("Wrenfield", nullptr, 0, &total), 1);
  EXPECT_EQ(ovik_printer_model_get_manufacture_modelnames_wchar("Nobody", buf.data(), 160, &total), 0);
  unsigned char small[3] = {1, 2, 3};
  EXPECT_EQ(
      ovik_printer_model_get_manufacture_modelnames_wchar("Wrenfield", reinterpret_cast<wchar_t *>(small), 3, &total),
      1);
  EXPECT_EQ(shown(small, 3), "<00><00><00>") << "too small for any name: cleared";
}

// ---- typed properties ----

struct property_case {
  int32_t id;
  int property;
  int len;           // bytes offered of an 8-byte buffer filled with 0xaa
  const char *bytes; // the whole buffer afterwards
  int type;
  int length;
};

class Property : public testing::TestWithParam<property_case> {};

TEST_P(Property, WritesItsBytesTypeAndLength)
{
  const property_case &c = GetParam();
  ovik_printer_model *model = nullptr;
  ASSERT_EQ(ovik_printer_model_creator(c.id, &model), 0);
  unsigned char buf[8];
  std::memset(buf, 0xAA, sizeof buf);
  int type = -5, length = -5;
  EXPECT_EQ(ovik_printer_model_get_property(model, c.property, &type, buf, c.len, &length), 0);
  EXPECT_EQ(shown(buf, 8) + " " + std::to_string(type) + " " + std::to_string(length),
            std::string(c.bytes) + " " + std::to_string(c.type) + " " + std::to_string(c.length));
  ovik_printer_model_destroy(model);
}

const char all_aa[] = "<aa><aa><aa><aa><aa><aa><aa><aa>";

INSTANTIATE_TEST_SUITE_P(
    Values, Property,
    testing::Values(property_case{0x1001, PROP_MODEL_ID, 2, "<01><10><aa><aa><aa><aa><aa><aa>", 3, 4},
                    property_case{0x1001, PROP_MODEL_ID, 6, "<01><10><00><00><00><00><aa><aa>", 3, 4},
                    property_case{-1, PROP_MODEL_ID, 8, "<ff><ff><ff><ff><00><00><00><00>", 3, 4},
                    property_case{0x1001, PROP_MODEL_NAME, 8, "Tern 80A", 2, 8},
                    property_case{0x1001, PROP_MODEL_NAME, 3, "Ter<aa><aa><aa><aa><aa>", 2, 8},
                    property_case{0x1001, PROP_PAGEMODE_AREA, 6, "576,93<aa><aa>", 2, 7},
                    property_case{0x3201, PROP_PAGEMODE_AREA, 8, all_aa, 2, 0},
                    property_case{0x1102, PROP_PAGEMODE, 8, "<01><aa><aa><aa><aa><aa><aa><aa>", 1, 1},
                    property_case{0x3201, PROP_PAGEMODE, 8, "<00><aa><aa><aa><aa><aa><aa><aa>", 1, 1}));

struct bad_call {
  bool model, bad_size, type, buf, out_len;
  int len, property;
};

class PropertyRefusal : public testing::TestWithParam<bad_call> {};

TEST_P(PropertyRefusal, RefusedWithoutWritingAnything)
{
  const bad_call &c = GetParam();
  ovik_printer_model model{};
  model.struct_size = OVIK_MODEL_STRUCT_SIZE;
  ASSERT_EQ(ovik_printer_model_get_by_id(0x1001, &model), 0);
  model.struct_size = c.bad_size ? 119 : OVIK_MODEL_STRUCT_SIZE;
  for (auto query : {ovik_printer_model_get_property, ovik_printer_model_get_property_wchar}) {
    int type = -5, length = -5;
    char buf[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(query(c.model ? &model : nullptr, c.property, c.type ? &type : nullptr, c.buf ? buf : nullptr, c.len,
                    c.out_len ? &length : nullptr),
              -1);
    EXPECT_EQ(shown(buf, 8) + " " + std::to_string(type) + " " + std::to_string(length), "xxxxxxxx -5 -5");
  }
}

INSTANTIATE_TEST_SUITE_P(Arguments, PropertyRefusal,
                         testing::Values(bad_call{false, false, true, true, true, 8, 2},  // no record
                                         bad_call{true, true, true, true, true, 8, 2},    // bad size
                                         bad_call{true, false, false, true, true, 8, 2},  // no type
                                         bad_call{true, false, true, false, false, 8, 2}, // no out
                                         bad_call{true, false, true, true, true, 0, 1},   // 0 bytes
                                         bad_call{true, false, true, true, true, -1, 1},
                                         bad_call{true, false, true, true, true, 8, 3},
                                         bad_call{true, false, true, true, true, 8, 0x83}));

TEST(PropertyWide, TextsBecomeWideCharactersWhenTheyFit)
{
  ovik_printer_model *tern = nullptr;
  ASSERT_EQ(ovik_printer_model_creator(0x1001, &tern), 0);
  int type = 0, length = 0;
  std::vector<wchar_t> wide(16, L'Z'); // 64 bytes
  EXPECT_EQ(ovik_printer_model_get_property_wchar(tern, PROP_MODEL_NAME, &type, wide.data(), 64, &length), 0);
  EXPECT_EQ(std::wstring(wide.data(), 16), L"Tern 80AZZZZZZZZ");
  EXPECT_EQ(length, 32) << "bytes of the wide form";

  // 8 wide characters take 32 bytes, but the conversion needs one more: the
  // narrow copy stays, as it does for a text cut at 3 bytes.
  char narrow[32];
  std::memset(narrow, 'x', sizeof narrow);
  EXPECT_EQ(ovik_printer_model_get_property_wchar(tern, PROP_MODEL_NAME, &type, narrow, 32, &length), 0);
  EXPECT_EQ(std::string(narrow, 10), "Tern 80Axx");
  std::memset(narrow, 'x', sizeof narrow);
  EXPECT_EQ(ovik_printer_model_get_property_wchar(tern, PROP_MODEL_NAME, &type, narrow, 3, nullptr), 0);
  EXPECT_EQ(std::string(narrow, 5), "Terxx");

  unsigned char number[6];
  std::memset(number, 0xAA, sizeof number);
  EXPECT_EQ(ovik_printer_model_get_property_wchar(tern, PROP_MODEL_ID, &type, number, 6, &length), 0);
  EXPECT_EQ(shown(number, 6) + " " + std::to_string(length), "<01><10><00><00><00><00> 4");
  ovik_printer_model_destroy(tern);
}

TEST(PropertyWide, ByIdUsesTheCache)
{
  int type = 0, length = 0;
  std::vector<wchar_t> wide(16, L'Z');
  EXPECT_EQ(ovik_printer_model_id_get_property_wchar(0x1001, PROP_PAGEMODE_AREA, &type, wide.data(), 64, &length), 0);
  EXPECT_EQ(std::wstring(wide.data(), 8), L"576,936Z");
  EXPECT_EQ(length, 28);
  EXPECT_EQ(ovik_printer_model_id_get_property_wchar(0x7777, PROP_MODEL_ID, &type, wide.data(), 64, &length), -8);
  ovik_printer_model_detach();
}

} // namespace
