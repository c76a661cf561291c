#include "pdfwriter/mrvx_objs.h"

#include <gtest/gtest.h>

namespace pdfwriter {
namespace {

std::vector<std::string> Keys(const TMRVXDictionaryObject& d) {
  std::vector<std::string> k;
  for (const auto& item : d.Items) k.push_back(item.Key);
  return k;
}

TEST(ObjectModel, DictionaryKeepsInsertionOrderAndComparesKeysWithoutCase) {
  TMRVXDictionaryObject d(nullptr);
  d.AddNameValue("Type", "Page");
  d.AddIntegerValue("Count", 1);
  d.AddStringValue("Title", "x");
  EXPECT_EQ(d.FindValue("type"), 0);
  EXPECT_EQ(d.FindValue("TITLE"), 2);
  EXPECT_EQ(d.FindValue("Missing"), -1);

  // AddValue on an existing key keeps its place; ReplaceValue moves it to the end.
  d.AddIntegerValue("type", 5);
  EXPECT_EQ(Keys(d), (std::vector<std::string>{"Type", "Count", "Title"}));
  EXPECT_EQ(static_cast<TMRVXNumericObject*>(d.GetIndexedItem(0))->Value, 5);
  d.ReplaceValue("count", std::make_unique<TMRVXBooleanObject>(nullptr, true));
  EXPECT_EQ(Keys(d), (std::vector<std::string>{"Type", "Title", "count"}));

  d.DeleteValue("nothing");
  d.DeleteValue("TITLE");
  EXPECT_EQ(Keys(d), (std::vector<std::string>{"Type", "count"}));
  EXPECT_EQ(d.AddValue("x", nullptr), nullptr);
  EXPECT_EQ(d.Count(), 2u);
  EXPECT_THROW(d.GetIndexedItem(2), std::out_of_range);

  // Windows-1252 letters compare without case as well.
  d.AddIntegerValue("\xC4rger", 1);
  EXPECT_EQ(d.FindValue("\xE4RGER"), 2);
}

TEST(ObjectModel, IndirectObjectsAreReferencedThroughOwnedLinks) {
  // The indirect dictionary lives outside (as in the document's list); the container only
  // ever holds a link with its number, and freeing the container leaves it alone.
  auto pages = std::make_unique<TMRVXDictionaryObject>(nullptr);
  pages->IsIndirect = true;
  pages->ID = {3, 0};
  {
    TMRVXDictionaryObject catalog(nullptr);
    TMRVXLink* link = catalog.AddLink("Pages", *pages);
    EXPECT_EQ(link->Value, (TMRVXObjectNumber{3, 0}));
    EXPECT_EQ(catalog.GetValue("Pages"), link);
    EXPECT_EQ(link->FParent, &catalog);
  }
  // Handing an indirect object over as if it were direct is a programming error.
  auto stray = std::make_unique<TMRVXNumericObject>(nullptr, 1);
  stray->IsIndirect = true;
  TMRVXDictionaryObject holder(nullptr);
  EXPECT_THROW(holder.AddValue("N", std::move(stray)), std::logic_error);
  EXPECT_EQ(holder.Count(), 0u);
  TMRVXDictionaryObject direct(nullptr);
  TMRVXArrayObject arr(nullptr);
  EXPECT_THROW(arr.AddLink(direct), std::logic_error);
}

TEST(ObjectModel, ArraySetIndexedItemInserts) {
  TMRVXArrayObject arr(nullptr);
  arr.AddNameValue("a");
  arr.AddNameValue("b");
  arr.SetIndexedItem(0, std::make_unique<TMRVXNameObject>(nullptr, "x"));
  arr.SetIndexedItem(3, std::make_unique<TMRVXNameObject>(nullptr, "z"));
  std::string names;
  for (const auto& item : arr.Items) names += static_cast<TMRVXNameObject*>(item.get())->Value;
  EXPECT_EQ(names, "xabz");
  EXPECT_EQ(arr.GetIndexedItem(1)->FParent, &arr);
  EXPECT_THROW(arr.SetIndexedItem(9, std::make_unique<TMRVXNullObject>()), std::out_of_range);
  EXPECT_THROW(arr.GetIndexedItem(4), std::out_of_range);
}

TEST(ObjectModel, StreamLengthNeedsItsItem) {
  TMRVXStreamObject s(nullptr);
  EXPECT_EQ(s.Dictionary->FParent, &s);
  try {
    s.GetLength();
    FAIL();
  } catch (const EMRVXError& e) {
    EXPECT_STREQ(e.what(), "This stream without a length item");
  }
  EXPECT_THROW(s.SetLength(3), EMRVXError);
  s.Dictionary->AddIntegerValue("Length", 0);
  s.SetLength(20'000'001);  // beyond what a single holds exactly
  EXPECT_EQ(s.GetLength(), 20'000'001);
}

}  // namespace
}  // namespace pdfwriter
