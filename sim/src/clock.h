// Calendar arithmetic on 64-bit seconds, so the 32-bit build is not bound by a 32-bit time_t.
#pragma once

#include <cstdint>
#include <ctime>

namespace anynet_sim::detail {

struct DateTime {
  int year = 2000;  // full year
  int month = 1;    // 1-12
  int day = 1;      // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 6;  // 0 = Sunday; derived, never read by ToSeconds
};

bool IsValid(const DateTime&);       // 1970-2069, real calendar day, 24-hour time
int64_t ToSeconds(const DateTime&);  // seconds since 1970-01-01 00:00 of the same wall clock
DateTime FromSeconds(int64_t);
int64_t LocalNowSeconds();  // this PC's local wall clock

// Two-digit controller years: 70-99 are 1970-1999, 00-69 are 2000-2069.
int FullYear(unsigned twoDigit);

std::tm ToTm(const DateTime&);
DateTime FromTm(const std::tm&);

}  // namespace anynet_sim::detail
