// Small archives for the simulated meter whose file texts are worked out by
// hand: the expected day.txt and hour.txt bytes beside them.
#pragma once
#include "sim/Archive.h"

// Day archive whose every row has texts worked out by hand below.
inline sim::ArchiveData SmallDayArchive() {
    sim::ArchiveData d;
    d.Template = "DATE HOUR TNORM sTNORM Q1 M1 ERRORCODE";
    sim::ArchiveRecord a;
    a.Day = 31, a.Month = 12, a.Year = 8, a.Hour = 23;
    a.Values = {{"TNORM", 90}, {"sTNORM", 1234}, {"Q1", 2.5}, {"M1", 100}, {"ERRORCODE", 255}};
    sim::ArchiveRecord b;
    b.Day = 1, b.Month = 1, b.Year = 99, b.Hour = 5;
    b.Values = {{"TNORM", 1}, {"sTNORM", 0}, {"Q1", 0.5}, {"M1", 12345678}, {"ERRORCODE", 0}};
    sim::ArchiveRecord c;
    c.Day = 15, c.Month = 6, c.Year = 24, c.Hour = 0;
    c.Values = {{"TNORM", 1440}, {"sTNORM", 16777215}, {"Q1", -3}, {"M1", 0.00001}, {"ERRORCODE", 7}};
    d.Records = {a, b, c};
    return d;
}
inline constexpr const char* SmallDayFile = "DATE HOUR TNORM sTNORM Q1 M1 ERRORCODE\r\n"
                                            "31-12-2008 23 1,50 1234,00 2,5 100 255 \r\n"
                                            "01-01-1999  5 0,02 0,00 0,5 1,234568E7 0 \r\n"
                                            "15-06-2024  0 24,00 1,677722E7 -3 1E-5 7 \r\n";

inline sim::ArchiveData SmallHourArchive() {
    sim::ArchiveData d;
    d.Template = "DATE HOUR TNORM TMIN Q1";
    sim::ArchiveRecord a;
    a.Day = 25, a.Month = 1, a.Year = 24, a.Hour = 13;
    a.Values = {{"TNORM", 60}, {"TMIN", 30}, {"Q1", 1.25}};
    sim::ArchiveRecord b = a;
    b.Hour = 14;
    b.Values = {{"TNORM", 59}, {"TMIN", 0}, {"Q1", 1000000}};
    d.Records = {a, b};
    return d;
}
inline constexpr const char* SmallHourFile = "DATE HOUR TNORM TMIN Q1\r\n"
                                             "25-01-2024 13 1,00 0,50 1,25 \r\n"
                                             "25-01-2024 14 0,98 0,00 1000000 \r\n";
