#include "functions/native_registry.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "functions/function_catalogue.h"
#include "functions/random_source.h"
#include "util/text.h"

namespace korvel {
namespace {

// Fake routines that leave a mark, installed through family tables as the families do it.
void answerOne(CallContext&, const Value* const*, Value& result) { result.setInteger(1); }
void answerTwo(CallContext&, const Value* const*, Value& result) { result.setInteger(2); }

TEST(NativeRegistryTest, RegistersEveryNameOnceWithACatalogueRow) {
  const FunctionCatalogue& catalogue = FunctionCatalogue::instance();
  ASSERT_EQ(nativeNames().size(), NativeRegistry::kNameCount);
  std::set<std::u16string> names;
  std::set<int> numbers;
  for (const NativeName& entry : nativeNames()) {
    SCOPED_TRACE(toUtf8(entry.name));
    EXPECT_TRUE(names.insert(entry.name).second) << "registered twice";
    int number = catalogue.numberOfName(entry.name);
    EXPECT_NE(catalogue.descriptorOfNumber(number), nullptr);
    numbers.insert(number);
    if (entry.aliasOf != nullptr) {
      EXPECT_EQ(catalogue.numberOfName(entry.aliasOf), number);
    }
  }
  for (const NativeName& entry : nativeNames()) {
    if (entry.aliasOf != nullptr) {
      EXPECT_TRUE(names.count(entry.aliasOf)) << toUtf8(entry.name);
    }
  }
  // 166 names, two of them aliases of registered functions: 164 functions.
  EXPECT_EQ(numbers.size(), 164u);
}

TEST(NativeRegistryTest, NamesWithoutAFamilyHaveNoRoutine) {
  NativeRegistry registry{std::span<const NativeTable>{}};
  EXPECT_EQ(registry.size(), 166u);
  EXPECT_EQ(registry.nativeCount(), 0u);
  const NativeFunction* sum = registry.findNative(u"SUM");
  ASSERT_NE(sum, nullptr);
  EXPECT_FALSE(sum->isNative());
  // Calling a function without routine leaves the result alone instead of inventing a value.
  Value result = Value::text(u"SUM");
  CallContext context;
  const Value* arguments[] = {nullptr};
  sum->call(context, arguments, result);
  EXPECT_EQ(result.text(), u"SUM");

  for (const char16_t* name : {u"sum", u"Sum", u"SUM ", u"", u"NORM.S.DIST", u"_XLFN.SUM"}) {
    EXPECT_EQ(registry.findNative(name), nullptr) << toUtf8(name);
  }
  // Catalogued, but computed by the host program with its two parameters.
  const FunctionCatalogue& catalogue = FunctionCatalogue::instance();
  EXPECT_EQ(catalogue.maximumArguments(catalogue.numberOfName(u"NORM.S.DIST")), 2);
}

TEST(NativeRegistryTest, AliasesRunTheRoutineOfTheirFunctionThroughTheirOwnObject) {
  const NativeEntry table[] = {{u"COUNTIFS", answerOne}, {u"IFERROR", answerTwo}};
  const NativeTable tables[] = {table};
  NativeRegistry registry(tables);
  EXPECT_TRUE(registry.rejectedEntries().empty());
  EXPECT_EQ(registry.nativeCount(), 4u);

  const struct {
    const char16_t* name;
    const char16_t* alias;
    int answer;
  } cases[] = {{u"COUNTIFS", u"_XLFN.COUNTIFS", 1}, {u"IFERROR", u"_XLFN.IFERROR", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.alias));
    const NativeFunction* function = registry.findNative(c.name);
    const NativeFunction* alias = registry.findNative(c.alias);
    ASSERT_NE(function, nullptr);
    ASSERT_NE(alias, nullptr);
    EXPECT_NE(function, alias);
    EXPECT_EQ(alias->routine(), function->routine());
    Value result;
    CallContext context;
    const Value* arguments[] = {nullptr};
    alias->call(context, arguments, result);
    ASSERT_EQ(result.kind(), ValueKind::kInteger);
    EXPECT_EQ(result.integer(), c.answer);
  }
}

TEST(NativeRegistryTest, UnsoundTableEntriesAreRejected) {
  const NativeEntry table[] = {
      {u"NOSUCH", answerOne},         {u"abs", answerOne}, {u"SUM", nullptr},
      {u"_XLFN.COUNTIFS", answerOne}, {u"ABS", answerOne}, {nullptr, answerOne},
  };
  const NativeEntry later[] = {{u"ABS", answerTwo}};
  const NativeTable tables[] = {table, later};
  NativeRegistry registry(tables);
  std::vector<std::string> rejected;
  for (const std::u16string& name : registry.rejectedEntries()) rejected.push_back(toUtf8(name));
  EXPECT_EQ(rejected,
            (std::vector<std::string>{"NOSUCH", "abs", "SUM", "_XLFN.COUNTIFS", "", "ABS"}));
  // The first routine given for a name stays; nothing else became native.
  EXPECT_EQ(registry.findNative(u"ABS")->routine(), &answerOne);
  EXPECT_EQ(registry.nativeCount(), 1u);
  EXPECT_FALSE(registry.findNative(u"_XLFN.COUNTIFS")->isNative());
}

TEST(NativeRegistryTest, BuiltInTablesAreSound) {
  const NativeRegistry& registry = NativeRegistry::instance();
  EXPECT_EQ(&registry, &NativeRegistry::instance());
  EXPECT_EQ(registry.size(), 166u);
  EXPECT_TRUE(registry.rejectedEntries().empty());
  size_t entries = 0;
  for (NativeTable table : builtInFamilyTables()) entries += table.size();
  // Aliases run the routine of their function without a row of their own.
  size_t aliases = 0;
  for (const NativeName& name : nativeNames()) aliases += name.aliasOf != nullptr;
  EXPECT_EQ(registry.nativeCount(), entries + aliases);
  // Every family is written: no registered name is left to the host program.
  EXPECT_EQ(registry.nativeCount(), NativeRegistry::kNameCount);
}

TEST(NativeRegistryTest, CatalogueHandsOutOnlyFunctionsWithARoutine) {
  const NativeEntry table[] = {{u"COUNTIFS", answerOne}};
  const NativeTable tables[] = {table};
  NativeRegistry registry(tables);
  FunctionCatalogue catalogue;
  catalogue.setNativeRegistry(&registry);
  EXPECT_EQ(catalogue.nativeFunction(u"COUNTIFS"), registry.findNative(u"COUNTIFS"));
  EXPECT_EQ(catalogue.nativeFunction(u"_XLFN.COUNTIFS"), registry.findNative(u"_XLFN.COUNTIFS"));
  EXPECT_EQ(catalogue.nativeFunction(u"SUM"), nullptr);  // registered, family not written
  EXPECT_EQ(catalogue.nativeFunction(u"NORM.S.DIST"), nullptr);
  EXPECT_EQ(catalogue.nativeFunction(u"countifs"), nullptr);
}

TEST(NativeRegistryTest, CatalogueAnswersTheEvaluatorsQuestions) {
  const FunctionResolver& resolver = FunctionCatalogue::instance();
  const FunctionCatalogue& catalogue = FunctionCatalogue::instance();
  const int stdevS = catalogue.numberOfName(u"STDEV.S");
  const int normSDist = catalogue.numberOfName(u"NORM.S.DIST");
  const int sumifs = catalogue.numberOfName(u"SUMIFS");
  // A call of STDEV.S into the host program carries 30 parameters, whatever was written.
  EXPECT_EQ(resolver.maximumArguments(stdevS), 30);
  EXPECT_EQ(resolver.maximumArguments(normSDist), 2);
  std::string classes;
  for (int position : {0, 1, 2, 3, 29, 30, -1}) {
    classes += char('0' + resolver.argumentClass(sumifs, position));
  }
  EXPECT_EQ(classes, "2212100");
  EXPECT_EQ(resolver.returnClass(sumifs), kClassValue);
  EXPECT_EQ(resolver.returnClass(catalogue.numberOfName(u"OFFSET")), kClassReference);
  EXPECT_EQ(resolver.functionFlags(sumifs), 9u);
  EXPECT_EQ(resolver.functionFlags(catalogue.numberOfName(u"SUMPRODUCT")), 17u);
  // Numbers without a descriptor.
  for (int number : {-1, 708, 712}) {
    EXPECT_EQ(resolver.maximumArguments(number), -1) << number;
    EXPECT_EQ(resolver.argumentClass(number, 0), kClassNone) << number;
    EXPECT_EQ(resolver.returnClass(number), kClassNone) << number;
    EXPECT_EQ(resolver.functionFlags(number), 0u) << number;
  }
}

TEST(RandomSourceTest, SeededDrawsRepeatAndStayInRange) {
  auto draws = [](uint32_t seed) {
    seedRandomWith(seed);
    std::vector<int> values;
    for (int i = 0; i < 1000; ++i) values.push_back(drawRandom());
    return values;
  };
  std::vector<int> first = draws(12345);
  EXPECT_EQ(draws(12345), first);
  EXPECT_NE(draws(54321), first);
  std::set<int> distinct(first.begin(), first.end());
  EXPECT_GT(distinct.size(), 900u);
  for (int value : first) {
    ASSERT_GE(value, 0);
    ASSERT_LE(value, kRandomMax);
  }
  seedRandom();
}

}  // namespace
}  // namespace korvel
