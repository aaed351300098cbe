// SPDX-License-Identifier: Apache-2.0
#include "platform/utc_time.h"

#include <chrono>
#include <ctime>

namespace qve::platform {

std::string UtcNow(const char* format) {
  // By the calendar of <chrono>, not gmtime, whose one result every thread
  // shares: chains are judged on threads of their own.
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  std::tm utc{};
  utc.tm_year = int(date.year()) - 1900;
  utc.tm_mon = int(unsigned(date.month())) - 1;
  utc.tm_mday = int(unsigned(date.day()));
  utc.tm_hour = int(time.hours().count());
  utc.tm_min = int(time.minutes().count());
  utc.tm_sec = int(time.seconds().count());
  char text[64] = {};
  std::strftime(text, sizeof text, format, &utc);
  return text;
}

}  // namespace qve::platform
