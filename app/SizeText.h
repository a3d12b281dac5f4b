#pragma once
// Sizes and durations as the user reads them.

#include <QString>

#include <chrono>

// "512 Б", "340 КБ", "12,5 МБ", "1,2 ГБ".
QString BytesText(qint64 bytes);
// Done and total in the total's unit: "0,5/3,0 ГБ", "340/512 КБ".
QString BytesPairText(qint64 done, qint64 total);
// "0:42", "12:05", "1:02:03".
QString DurationText(std::chrono::seconds left);
