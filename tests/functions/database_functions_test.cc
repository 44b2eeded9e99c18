// DGET, DMIN and DSUM: fields by name and number, criteria rows and their blanks, and computed
// conditions that read each record's row through the engine's reference shift.
#include <gtest/gtest.h>

#include "function_test_support.h"

namespace korvel {
namespace {

class DatabaseTest : public FunctionTest {};

// The database A1:C5 and criteria ranges beside it. J2 and K2 are computed conditions written
// for the first record; L1 is a threshold outside the database.
constexpr const char* kBook = R"(
A1: "Name"
B1: "Age"
C1: "Score"
A2: "ann"
B2: 30
C2: 10
A3: "bob"
B3: 40
C3: 20
A4: "cat"
B4: 30
C4: 30
A5: "dan"
B5: 50
C5: "x"
E1: "Age"
E2: 30
F1: "age"
F2: ">45"
G1: "Age"
G2: ">100"
H1: "Name"
H2: "ann"
H3: "dan"
I1: "Age"
J1: "High"
J2: =B2>35
K1: "Check"
K2: =C2*1>=$L$1
L1: 15
M1: "Age"
N1: "Big"
M2: 30
N2: =C2>15
X1: "Name"
X2: "B"
Y1: "Name"
Y2: "=b"
Z1: "Name"
Z2: "=bob"
)";

TEST_F(DatabaseTest, FieldsCriteriaRowsAndResults) {
  const FormulaCase cases[] = {
      {"=DGET(A1:C5,\"Score\",E1:E2)", "e:#NUM!"},  // two records match
      {"=DSUM(A1:C5,\"Score\",E1:E2)", "i:40"},
      {"=DMIN(A1:C5,3,E1:E2)", "i:10"},
      {"=DGET(A1:C5,\"Name\",F1:F2)", "t:dan"},  // headers compare ignoring case
      {"=DSUM(A1:C5,\"Score\",F1:F2)", "i:0"},   // a text field cell adds nothing
      {"=DSUM(A1:C5,2,G1:G2)", "i:0"},           // no match
      {"=DMIN(A1:C5,2,G1:G2)", "i:0"},
      {"=DGET(A1:C5,2,G1:G2)", "e:#VALUE!"},
      {"=DSUM(A1:C5,\"Age\",H1:H3)", "i:80"},   // either criteria row
      {"=DSUM(A1:C5,\"Age\",I1:I2)", "i:150"},  // a blank criteria row matches every record
      {"=DSUM(A1:C5,2.7,E1:E2)", "i:60"},       // field numbers are truncated
      {"=DSUM(A1:C5,TRUE,E1:E2)", "i:0"},       // TRUE is the first field
      {"=DSUM(A1:C5,\"nope\",E1:E2)", "e:#VALUE!"},
      {"=DSUM(A1:C5,0,E1:E2)", "e:#VALUE!"},
      {"=DSUM(A1:C5,4,E1:E2)", "e:#VALUE!"},
      {"=DSUM(A1:C5,#N/A,E1:E2)", "e:#N/A"},
      {"=DSUM(A1:C1,\"Age\",E1:E2)", "e:#VALUE!"},  // a header without records
      {"=DSUM(A1:C5,\"Age\",E1)", "e:#VALUE!"},
      {"=DSUM(A1:C5,\"Age\",5)", "e:#VALUE!"},
      {"=DMIN(A1:C5,\"Score\",I1:I2)", "i:10"},
      // A text without an operator matches the texts that begin with it; "=" asks for the whole.
      {"=DSUM(A1:C5,\"Age\",X1:X2)", "i:40"},
      {"=DSUM(A1:C5,\"Age\",Y1:Y2)", "i:0"},
      {"=DSUM(A1:C5,\"Age\",Z1:Z2)", "i:40"},
  };
  for (const FormulaCase& c : cases) EXPECT_EQ(eval(kBook, c.formula), c.expected) << c.formula;
}

TEST_F(DatabaseTest, ComputedConditionsReadEachRecord) {
  const FormulaCase cases[] = {
      {"=DSUM(A1:C5,\"Age\",J1:J2)", "i:90"},  // bob and dan are older than 35
      {"=DGET(A1:C5,\"Name\",J1:J2)", "e:#NUM!"},
      {"=DSUM(A1:C5,\"Age\",K1:K2)", "i:70"},    // the text score gives #VALUE!: no match
      {"=DGET(A1:C5,\"Name\",M1:N2)", "t:cat"},  // a column condition and a computed one
      {"=DSUM(A:C,\"Age\",J1:J2)", "i:90"},      // whole columns: the band is every record row
  };
  for (const FormulaCase& c : cases) {
    EXPECT_EQ(eval(kBook, c.formula), c.expected) << c.formula;
    EXPECT_EQ(engine_->referenceShift.rows, 0) << c.formula;
  }
  // The criteria cells themselves keep the values of their own rows.
  EXPECT_EQ(valueOf("J2"), "b:FALSE");
  EXPECT_EQ(valueOf("K2"), "b:FALSE");
}

TEST_F(DatabaseTest, ErrorsInTheFieldStopDminOnly) {
  std::string book = kBook;
  book.replace(book.find("C3: 20"), 6, "C3: #N/A");
  EXPECT_EQ(eval(book, "=DMIN(A1:C5,\"Score\",I1:I2)"), "e:#N/A");
  EXPECT_EQ(eval(book, "=DSUM(A1:C5,\"Score\",I1:I2)"), "i:40");
}

TEST_F(DatabaseTest, DgetCountsBlankRecordsBelowTheStoredOnes) {
  // Records 6 to 9 of A1:C9 are blank; a criterion that matches blank ages finds them all.
  EXPECT_EQ(eval(std::string(kBook) + "P1: \"Age\"\nP2: \"=\"\n", "=DGET(A1:C9,\"Name\",P1:P2)"),
            "e:#NUM!");
  EXPECT_EQ(eval(std::string(kBook) + "P1: \"Age\"\nP2: \"=\"\n", "=DGET(A1:C6,\"Name\",P1:P2)"),
            "i:0");  // one blank record: its empty name, shown as 0
}

}  // namespace
}  // namespace korvel
