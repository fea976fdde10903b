#include "clock.h"

namespace anynet_sim::detail {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

}  // namespace

bool IsValid(const DateTime& t) {
  return t.year >= 1970 && t.year <= 2069 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
         t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

int64_t ToSeconds(const DateTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * kSecondsPerDay + t.hour * 3600 + t.minute * 60 +
         t.second;
}

DateTime FromSeconds(int64_t s) {
  const int64_t days = FloorDiv(s, kSecondsPerDay);
  const int64_t rest = s - days * kSecondsPerDay;
  DateTime t;
  CivilFromDays(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  // 1970-01-01 was a Thursday.
  t.weekday = static_cast<int>(((days % 7) + 7 + 4) % 7);
  return t;
}

int64_t LocalNowSeconds() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return ToSeconds(FromTm(local));
}

int FullYear(unsigned twoDigit) {
  return twoDigit >= 70 ? 1900 + static_cast<int>(twoDigit) : 2000 + static_cast<int>(twoDigit);
}

std::tm ToTm(const DateTime& t) {
  std::tm out{};
  out.tm_year = t.year - 1900;
  out.tm_mon = t.month - 1;
  out.tm_mday = t.day;
  out.tm_hour = t.hour;
  out.tm_min = t.minute;
  out.tm_sec = t.second;
  out.tm_wday = t.weekday;
  out.tm_yday =
      static_cast<int>(DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(t.year, 1, 1));
  out.tm_isdst = -1;
  return out;
}

DateTime FromTm(const std::tm& in) {
  DateTime t;
  t.year = in.tm_year + 1900;
  t.month = in.tm_mon + 1;
  t.day = in.tm_mday;
  t.hour = in.tm_hour;
  t.minute = in.tm_min;
  t.second = in.tm_sec;
  return t;
}

}  // namespace anynet_sim::detail
