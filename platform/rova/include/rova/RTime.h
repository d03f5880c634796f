#pragma once
#include "rova/RovaExport.h"

// A time value; held in seconds, readable in any unit.
class ROVA_API RTime {
  public:
    enum Unit {
        kInvalid = 0,
        kHours,
        kMinutes,
        kSeconds,
        kMilliseconds,
        kFilm /*24*/,
        kPALFrame /*25*/,
        kNTSCFrame /*30*/,
        kGames /*15*/,
        k48FPS,
        k60FPS
    };

    constexpr RTime() noexcept = default;
    RTime(double value, Unit unit = kSeconds) noexcept;

    double value() const noexcept { return asUnits(m_unit); }
    Unit unit() const noexcept { return m_unit; }
    double asUnits(Unit unit) const noexcept;
    double seconds() const noexcept { return m_seconds; }
    static double unitsPerSecond(Unit unit) noexcept;

    RTime operator-(const RTime& o) const noexcept { return fromSeconds(m_seconds - o.m_seconds); }
    RTime operator+(const RTime& o) const noexcept { return fromSeconds(m_seconds + o.m_seconds); }
    bool operator==(const RTime& o) const noexcept { return m_seconds == o.m_seconds; }
    bool operator<(const RTime& o) const noexcept { return m_seconds < o.m_seconds; }
    bool operator>(const RTime& o) const noexcept { return m_seconds > o.m_seconds; }

    static RTime fromSeconds(double seconds) noexcept {
        RTime t;
        t.m_seconds = seconds;
        return t;
    }

  private:
    double m_seconds = 0.0;
    Unit m_unit = kSeconds;
};
