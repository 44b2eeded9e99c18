#include "platform/locale.h"

namespace korvel {

UserLocale UserLocale::englishUnitedStates() {
  UserLocale l;
  l.monthNames = {u"January", u"February",  u"March",   u"April",    u"May",      u"June", u"July",
                  u"August",  u"September", u"October", u"November", u"December", u""};
  l.abbreviatedMonthNames = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun", u"Jul",
                             u"Aug", u"Sep", u"Oct", u"Nov", u"Dec", u""};
  return l;
}

UserLocale UserLocale::germanGermany() {
  UserLocale l;
  l.decimalSeparator = u',';
  l.monetaryDecimalSeparator = u",";
  l.monetaryThousandsSeparator = u".";
  l.listSeparator = u';';
  l.currencySymbol = u"€";
  l.currencyPosition = 3;
  l.longDateOrder = 1;
  l.dateSeparator = u'.';
  l.languageName = u"German";
  l.monthNames = {u"Januar", u"Februar",   u"März",    u"April",    u"Mai",      u"Juni", u"Juli",
                  u"August", u"September", u"Oktober", u"November", u"Dezember", u""};
  l.abbreviatedMonthNames = {u"Jan", u"Feb", u"Mär", u"Apr", u"Mai", u"Jun", u"Jul",
                             u"Aug", u"Sep", u"Okt", u"Nov", u"Dez", u""};
  return l;
}

}  // namespace korvel
