#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

class HostSecuritiesFunctionsTest : public HostFunctionTest {};

TEST_F(HostSecuritiesFunctionsTest, CouponCalendar) {
  // Settlement 25 January 2011, maturity 15 November 2011, half-yearly, actual/actual.
  expectAll("", {
                    {"=COUPDAYBS(DATE(2011,1,25),DATE(2011,11,15),2,1)", "i:71"},
                    {"=COUPDAYS(DATE(2011,1,25),DATE(2011,11,15),2,1)", "i:181"},
                    {"=COUPDAYSNC(DATE(2011,1,25),DATE(2011,11,15),2,1)", "i:110"},
                    {"=COUPNCD(DATE(2011,1,25),DATE(2011,11,15),2,1)", "i:40678"},
                    {"=COUPNUM(DATE(2011,1,25),DATE(2011,11,15),2,1)", "i:2"},
                    {"=COUPPCD(DATE(2011,1,25),DATE(2011,11,15),2,1)", "i:40497"},
                    // The normal period of basis 3 is 365/frequency days; 30/360 counts the
                    // days to the next coupon as the rest of a 90-day quarter.
                    {"=COUPDAYS(DATE(2020,1,1),DATE(2024,3,17),4,3)", "n:91.25"},
                    {"=COUPDAYBS(DATE(2020,1,1),DATE(2024,3,17),4,4)", "i:14"},
                    {"=COUPDAYSNC(DATE(2020,1,1),DATE(2024,3,17),4,4)", "i:76"},
                    {"=COUPDAYSNC(DATE(2020,1,1),DATE(2021,1,1),2,2)", "i:182"},
                    // A maturity on the last day of a month keeps its coupons on month ends.
                    {"=COUPPCD(DATE(2011,4,10),DATE(2011,8,31),4)", "i:40602"},
                    {"=COUPNCD(DATE(2011,2,10),DATE(2011,8,30),4)", "i:40602"},
                    // Settlement on a coupon date starts that period.
                    {"=COUPDAYBS(DATE(2020,1,1),DATE(2021,1,1),1,1)", "i:0"},
                    {"=COUPNUM(DATE(2020,1,1),DATE(2021,1,1),1,1)", "i:1"},
                    // Dates as texts and with a time of day; the frequency is truncated.
                    {"=COUPNUM(\"2011-01-25\",40862.9,2.9)", "i:2"},
                });
}

TEST_F(HostSecuritiesFunctionsTest, ArgumentErrors) {
  expectAll("A1: TRUE\n", {
                              {"=COUPNUM(DATE(2011,11,15),DATE(2011,11,15),2)", "e:#NUM!"},
                              {"=COUPNUM(DATE(2011,1,1),DATE(2011,11,15),3)", "e:#NUM!"},
                              {"=COUPNUM(DATE(2011,1,1),DATE(2011,11,15),2,5)", "e:#NUM!"},
                              {"=COUPNUM(DATE(2011,1,1),DATE(2011,11,15),2,-1)", "e:#NUM!"},
                              {"=COUPNUM(-1,DATE(2011,11,15),2)", "e:#NUM!"},
                              {"=COUPNUM(\"soon\",DATE(2011,11,15),2)", "e:#VALUE!"},
                              {"=COUPNUM(A1,DATE(2011,11,15),2)", "e:#VALUE!"},
                              {"=COUPNUM(1/0,DATE(2011,11,15),3)", "e:#DIV/0!"},
                              {"=PRICE(1,1000,0.05,-0.01,100,2)", "e:#NUM!"},
                              {"=PRICE(1,1000,0.05,0.01,0,2)", "e:#NUM!"},
                              {"=YIELD(1,1000,0.05,0,100,2)", "e:#NUM!"},
                              {"=DISC(1,1000,0,100)", "e:#NUM!"},
                              {"=ACCRINT(100,200,100,0.1,1000,2)", "e:#NUM!"},
                              {"=ACCRINTM(1,100,0,1000)", "e:#NUM!"},
                              {"=ODDFPRICE(50,500,10,100,0.05,0.05,100,2,5)", "e:#NUM!"},
                              // The first coupon must fall after settlement.
                              {"=ODDFPRICE(50,500,10,40,0.05,0.05,100,2)", "e:#NUM!"},
                              {"=ODDLPRICE(50,500,60,0.05,0.05,100,2)", "e:#NUM!"},
                          });
}

TEST_F(HostSecuritiesFunctionsTest, PublishedExamples) {
  expectNumbers(
      "",
      {
          {"=ACCRINT(DATE(2008,3,1),DATE(2008,8,31),DATE(2008,5,1),0.1,1000,2,0)", 16.6666666666667,
           1e-14},
          {"=ACCRINT(DATE(2008,3,5),DATE(2008,8,31),DATE(2008,5,1),0.1,1000,2,0,FALSE)",
           15.5555555555556, 1e-14},
          {"=ACCRINT(DATE(2008,4,5),DATE(2008,8,31),DATE(2008,5,1),0.1,1000,2,0,TRUE)",
           7.22222222222222, 1e-14},
          {"=ACCRINTM(DATE(2008,4,1),DATE(2008,6,15),0.1,1000,3)", 20.5479452054795, 1e-14},
          {"=DISC(DATE(2007,1,25),DATE(2007,6,15),97.975,100,1)", 0.052420213, 1e-8},
          {"=DURATION(DATE(2018,7,1),DATE(2048,1,1),0.08,0.09,2,1)", 10.9191452815919, 1e-9},
          {"=MDURATION(DATE(2008,1,1),DATE(2016,1,1),0.08,0.09,2,1)", 5.73566981391884, 1e-9},
          {"=INTRATE(DATE(2008,2,15),DATE(2008,5,15),1000000,1014420,2)", 0.05768, 1e-12},
          {"=ODDFPRICE(DATE(2008,11,11),DATE(2021,3,1),DATE(2008,10,15),DATE(2009,3,1),0.0785,"
           "0.0625,100,2,1)",
           113.597717474079, 1e-9},
          {"=ODDFYIELD(DATE(2008,11,11),DATE(2021,3,1),DATE(2008,10,15),DATE(2009,3,1),0.0575,84.5,"
           "100,2,0)",
           0.0772455415972989, 1e-8},
          {"=ODDLPRICE(DATE(2008,2,7),DATE(2008,6,15),DATE(2007,10,15),0.0375,0.0405,100,2,0)",
           99.8782860147213, 1e-12},
          {"=ODDLYIELD(DATE(2008,4,20),DATE(2008,6,15),DATE(2007,12,24),0.0375,99.875,100,2,0)",
           0.0451922356291692, 1e-12},
          {"=PRICE(DATE(2008,2,15),DATE(2017,11,15),0.0575,0.065,100,2,0)", 94.6343616213221,
           1e-12},
          {"=PRICEDISC(DATE(2008,2,16),DATE(2008,3,1),0.0525,100,2)", 99.7958333333333, 1e-14},
          {"=PRICEMAT(DATE(2008,2,15),DATE(2008,4,13),DATE(2007,11,11),0.061,0.061,0)",
           99.9844988755569, 1e-12},
          {"=RECEIVED(DATE(2008,2,15),DATE(2008,5,15),1000000,0.0575,2)", 1014584.654, 1e-9},
          {"=TBILLEQ(DATE(2008,3,31),DATE(2008,6,1),0.0914)", 0.094151, 1e-5},
          {"=TBILLPRICE(DATE(2008,3,31),DATE(2008,6,1),0.09)", 98.45, 1e-14},
          {"=TBILLYIELD(DATE(2008,3,31),DATE(2008,6,1),98.45)", 0.0914169629253338, 1e-12},
          {"=YIELD(DATE(2008,2,15),DATE(2016,11,15),0.0575,95.04287,100,2,0)", 0.0650000068807314,
           1e-9},
          {"=YIELDDISC(DATE(2008,2,16),DATE(2008,3,1),99.795,100,2)", 0.0528225719868583, 1e-12},
          {"=YIELDMAT(DATE(2008,3,15),DATE(2008,11,3),DATE(2007,11,8),0.0625,100.0123,0)",
           0.0609543336915387, 1e-12},
      });
}

// Results of the host program stored in workbooks.
TEST_F(HostSecuritiesFunctionsTest, WorkbookResults) {
  expectNumbers(
      "",
      {
          // Past 182 days TBILLEQ compares with a coupon bond; a bill of 366 days is one year.
          {"=TBILLEQ(2040,2400,0.8)", 2.5066048253748145, 1e-14},
          {"=TBILLEQ(14640,15005,0.5)", 0.84827597966524815, 1e-14},
          {"=TBILLEQ(14640,15006,0.5)", 0.85229613124917014, 1e-14},
          {"=TBILLEQ(2040,2222,0.8)", 1.3619402985074627, 1e-14},
          {"=TBILLPRICE(14640,15006,0.5)", 49.166666666666671, 1e-14},
          {"=TBILLYIELD(20000,20182,200)", -0.98901098901098905, 1e-14},
          // Actual/360 discounts over the rest of a 360-day year, not the 365 actual days.
          {"=PRICE(43891,47543,0.04,0.05,155,1,2)", 126.04349401555694, 1e-14},
          {"=YIELD(45748,46825,0.22,62.736929069290866,15,1,2)", 0.12, 1e-12},
          {"=YIELD(43891,47543,0.06,107.97077488197409,130,2,0)", 0.07, 1e-12},
          {"=ODDFPRICE(43891,47543,43845,44256,0.075,0.05,120,2,0)", 131.55646124427685, 1e-14},
          {"=ODDFYIELD(43891,47543,43845,44256,0.075,131.55646124427685,120,2,0)", 0.05, 1e-12},
          {"=ODDLPRICE(43891,47543,43845,0.075,0.06,120,2,1)", 121.51937811334447, 1e-14},
          // Whole quasi-coupon periods count one coupon each, whatever their days.
          {"=ACCRINT(43864,45261,45028,0.33,3000,1,1)", 3154.9126431619129, 1e-14},
          {"=ACCRINT(43864,45261,45028,0.33,3000,1,2)", 3173.5, 1e-14},
          // calc_method FALSE before the first interest date leaves out all whole periods but one.
          {"=ACCRINT(43864,45261,45028,0.33,3000,2,0,FALSE)", 189.75, 1e-14},
          {"=ACCRINT(43864,45261,45028,0.33,3000,1,0,0)", 1179.75, 1e-14},
          {"=ACCRINT(42736,43070,42826,0.33,3000,4,4,FALSE)", -247.5, 1e-14},
      });
  expectAll("", {
                    // At most a calendar year from settlement to maturity.
                    {"=TBILLPRICE(1000,1366,0.5)", "e:#NUM!"},
                    {"=TBILLEQ(45332,45650,1.19)", "e:#NUM!"},
                    {"=TBILLEQ(45332,45650,0)", "e:#NUM!"},
                    {"=TBILLYIELD(45332,45650,0)", "e:#NUM!"},
                    {"=TBILLEQ(\"45366\",\"45731\",\"0.5\")", "n:0.848275979665248"},
                });
}

}  // namespace
}  // namespace korvel
