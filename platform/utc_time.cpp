// SPDX-License-Identifier: Apache-2.0
#include "platform/utc_time.h"

#include <chrono>
#include <ctime>

namespace qve::platform {

namespace {

// The digits of `text` from `at`, `count` of them, as a number.
std::optional<unsigned> Digits(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  unsigned value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + unsigned(text[i] - '0');
  }
  return value;
}

}  // namespace

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

bool IsRfc3339(std::string_view text) {
  // date-time = YYYY-MM-DD "T" hh:mm:ss [.fraction] ("Z" / +hh:mm / -hh:mm)
  const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return false;
  if (text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't') || text[13] != ':' ||
      text[16] != ':')
    return false;
  const bool leap = *year % 4 == 0 && (*year % 100 != 0 || *year % 400 == 0);
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*month < 1 || *month > 12 || *day < 1 ||
      *day > kDays[*month - 1] + (*month == 2 && leap ? 1 : 0) || *hour > 23 || *minute > 59 ||
      *second > 60)
    return false;
  std::size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    const std::size_t digits = at + 1;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9';) ++at;
    if (at == digits) return false;
  }
  if (at + 1 == text.size()) return text[at] == 'Z' || text[at] == 'z';
  const auto offsetHour = Digits(text, at + 1, 2), offsetMinute = Digits(text, at + 4, 2);
  return at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && text[at + 3] == ':' &&
         offsetHour && *offsetHour <= 23 && offsetMinute && *offsetMinute <= 59;
}

std::optional<std::int64_t> Rfc3339Seconds(std::string_view text) {
  if (!IsRfc3339(text)) return std::nullopt;
  using namespace std::chrono;
  const auto number = [&](std::size_t at, std::size_t count) {
    return int(*Digits(text, at, count));
  };
  const sys_days day = year_month_day(year(number(0, 4)), month(unsigned(number(5, 2))),
                                      std::chrono::day(unsigned(number(8, 2))));
  std::int64_t seconds = day.time_since_epoch().count() * 86400LL + number(11, 2) * 3600LL +
                         number(14, 2) * 60LL + number(17, 2);
  std::size_t at = 19;
  if (text[at] == '.') {
    for (++at; text[at] >= '0' && text[at] <= '9';) ++at;
  }
  if (text[at] == '+' || text[at] == '-') {
    const std::int64_t offset = number(at + 1, 2) * 3600LL + number(at + 4, 2) * 60LL;
    seconds += text[at] == '+' ? -offset : offset;
  }
  return seconds;
}

}  // namespace qve::platform
