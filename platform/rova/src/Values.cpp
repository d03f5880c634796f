// Value types of the host API: text, status, time, matrices, rotations.
#include <Imath/ImathEuler.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "rova/RArgList.h"
#include "rova/REulerRotation.h"
#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RPoint.h"
#include "rova/RQuaternion.h"
#include "rova/RStatus.h"
#include "rova/RString.h"
#include "rova/RTime.h"
#include "rova/RTransformationMatrix.h"
#include "rova/RVector.h"
#include "rovahost/Host.h"

// ---------------------------------------------------------------- statics
const RObject RObject::kNullObj{};
const RVector RVector::zero{0.0, 0.0, 0.0};
const RVector RVector::xAxis{1.0, 0.0, 0.0};
const RVector RVector::yAxis{0.0, 1.0, 0.0};
const RVector RVector::zAxis{0.0, 0.0, 1.0};
const RVector RVector::xNegAxis{-1.0, 0.0, 0.0};
const RVector RVector::yNegAxis{0.0, -1.0, 0.0};
const RVector RVector::zNegAxis{0.0, 0.0, -1.0};
const RPoint RPoint::origin{0.0, 0.0, 0.0, 1.0};
const RMatrix RMatrix::identity{};
const RQuaternion RQuaternion::identity{0.0, 0.0, 0.0, 1.0};

// ---------------------------------------------------------------- RString
namespace {
bool parseInt(const std::string& text, int& out) {
    if (text.empty())
        return false;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (*begin == '+')
        ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, out);
    return ec == std::errc() && ptr == end;
}

bool parseDouble(const std::string& text, double& out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())))
        return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    out = std::strtod(begin, &end);
    return end == begin + text.size();
}
}  // namespace

int RString::index(char c) const noexcept {
    const auto pos = m_text.find(c);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int RString::rindex(char c) const noexcept {
    const auto pos = m_text.rfind(c);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

RString RString::substring(int start, int end) const {
    const int size = static_cast<int>(m_text.size());
    start = std::max(start, 0);
    end = std::min(end, size - 1);
    if (start > end)
        return RString();
    return RString(
        m_text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start + 1)));
}

RString RString::toLowerCase() const {
    std::string text = m_text;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return RString(std::move(text));
}

RString RString::toUpperCase() const {
    std::string text = m_text;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return RString(std::move(text));
}

std::vector<RString> RString::split(char separator) const {
    std::vector<RString> parts;
    std::size_t start = 0;
    while (start <= m_text.size()) {
        const auto pos = m_text.find(separator, start);
        const auto stop = pos == std::string::npos ? m_text.size() : pos;
        if (stop > start)
            parts.emplace_back(m_text.substr(start, stop - start));
        if (pos == std::string::npos)
            break;
        start = pos + 1;
    }
    return parts;
}

bool RString::isInt() const noexcept {
    int value = 0;
    return parseInt(m_text, value);
}

bool RString::isDouble() const noexcept {
    double value = 0.0;
    return parseDouble(m_text, value);
}

int RString::asInt() const noexcept {
    int value = 0;
    return parseInt(m_text, value) ? value : 0;
}

double RString::asDouble() const noexcept {
    double value = 0.0;
    return parseDouble(m_text, value) ? value : 0.0;
}

RString& RString::operator+=(double value) {
    m_text += rova::host::formatDouble(value);
    return *this;
}

RString& RString::operator+=(int value) {
    m_text += std::to_string(value);
    return *this;
}

// ---------------------------------------------------------------- RStatus
RString RStatus::errorString() const {
    if (!m_description.isEmpty())
        return m_description;
    switch (m_code) {
        case kSuccess:
            return "success";
        case kFailure:
            return "failure";
        case kInsufficientMemory:
            return "insufficient memory";
        case kInvalidParameter:
            return "invalid parameter";
        case kLicenseFailure:
            return "license failure";
        case kUnknownParameter:
            return "unknown parameter";
        case kNotImplemented:
            return "not implemented";
        case kNotFound:
            return "not found";
        case kEndOfFile:
            return "end of file";
    }
    return "unknown status";
}

void RStatus::perror(const char* text) const {
    std::string line;
    if (text && *text) {
        line = text;
        line += ": ";
    }
    line += errorString().str();
    line += '\n';
    std::cerr << line << std::flush;
}

// ---------------------------------------------------------------- RArgList
namespace {
bool argMissing(unsigned int index, unsigned int length, RStatus* status) {
    if (index < length)
        return false;
    if (status)
        *status = RStatus(RStatus::kInvalidParameter,
                          "argument " + std::to_string(index) + " is missing");
    return true;
}
}  // namespace

RString RArgList::asString(unsigned int index, RStatus* status) const {
    if (argMissing(index, length(), status))
        return RString();
    if (status)
        status->clear();
    return m_words[index];
}

int RArgList::asInt(unsigned int index, RStatus* status) const {
    if (argMissing(index, length(), status))
        return 0;
    int value = 0;
    if (!parseInt(m_words[index].str(), value)) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter,
                              "argument '" + m_words[index].str() + "' is not an integer");
        return 0;
    }
    if (status)
        status->clear();
    return value;
}

double RArgList::asDouble(unsigned int index, RStatus* status) const {
    if (argMissing(index, length(), status))
        return 0.0;
    double value = 0.0;
    if (!parseDouble(m_words[index].str(), value)) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter,
                              "argument '" + m_words[index].str() + "' is not a number");
        return 0.0;
    }
    if (status)
        status->clear();
    return value;
}

bool RArgList::asBool(unsigned int index, RStatus* status) const {
    if (argMissing(index, length(), status))
        return false;
    const std::string word = m_words[index].toLowerCase().str();
    if (status)
        status->clear();
    if (word == "true" || word == "on" || word == "1" || word == "yes")
        return true;
    if (word == "false" || word == "off" || word == "0" || word == "no")
        return false;
    if (status)
        *status = RStatus(RStatus::kInvalidParameter,
                          "argument '" + m_words[index].str() + "' is not a boolean");
    return false;
}

// ---------------------------------------------------------------- RTime
double RTime::unitsPerSecond(Unit unit) noexcept {
    switch (unit) {
        case kHours:
            return 1.0 / 3600.0;
        case kMinutes:
            return 1.0 / 60.0;
        case kSeconds:
            return 1.0;
        case kMilliseconds:
            return 1000.0;
        case kFilm:
            return 24.0;
        case kPALFrame:
            return 25.0;
        case kNTSCFrame:
            return 30.0;
        case kGames:
            return 15.0;
        case k48FPS:
            return 48.0;
        case k60FPS:
            return 60.0;
        case kInvalid:
            break;
    }
    return 1.0;
}

RTime::RTime(double value, Unit unit) noexcept
    : m_seconds(value / unitsPerSecond(unit)), m_unit(unit == kInvalid ? kSeconds : unit) {}

double RTime::asUnits(Unit unit) const noexcept {
    return m_seconds * unitsPerSecond(unit);
}

// ---------------------------------------------------------------- RMatrix
RMatrix::RMatrix(const double values[4][4]) noexcept {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) matrix[r][c] = values[r][c];
}

RMatrix::RMatrix(const Imath::M44d& m) noexcept {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) matrix[r][c] = m[r][c];
}

Imath::M44d RMatrix::toImath() const noexcept {
    Imath::M44d m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m[r][c] = matrix[r][c];
    return m;
}

RMatrix& RMatrix::setToIdentity() noexcept {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) matrix[r][c] = r == c ? 1.0 : 0.0;
    return *this;
}

RMatrix RMatrix::operator*(const RMatrix& right) const noexcept {
    RMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += matrix[r][k] * right.matrix[k][c];
            out.matrix[r][c] = sum;
        }
    return out;
}

bool RMatrix::operator==(const RMatrix& o) const noexcept {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (matrix[r][c] != o.matrix[r][c])
                return false;
    return true;
}

bool RMatrix::isEquivalent(const RMatrix& o, double tolerance) const noexcept {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (std::abs(matrix[r][c] - o.matrix[r][c]) > tolerance)
                return false;
    return true;
}

double RMatrix::det4x4() const noexcept {
    return toImath().determinant();
}

RMatrix RMatrix::inverse() const noexcept {
    const double det = det4x4();
    if (det == 0.0 || !std::isfinite(det))
        return RMatrix();
    return RMatrix(toImath().gjInverse(false));
}

RMatrix RMatrix::transpose() const noexcept {
    RMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.matrix[r][c] = matrix[c][r];
    return out;
}

RPoint operator*(const RPoint& p, const RMatrix& m) noexcept {
    const double in[4] = {p.x, p.y, p.z, p.w};
    double out[4];
    for (int c = 0; c < 4; ++c)
        out[c] = in[0] * m[0][c] + in[1] * m[1][c] + in[2] * m[2][c] + in[3] * m[3][c];
    return {out[0], out[1], out[2], out[3]};
}

RVector operator*(const RVector& v, const RMatrix& m) noexcept {
    return {v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0],
            v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1],
            v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2]};
}

// ---------------------------------------------------------------- RQuaternion
namespace {
// Quaternion of a pure rotation matrix (rows are the images of the axes).
RQuaternion quaternionFromRotation(const double m[3][3]) {
    // m is the row-vector matrix; its transpose is the usual column-vector rotation R.
    const double r00 = m[0][0], r11 = m[1][1], r22 = m[2][2];
    const double trace = r00 + r11 + r22;
    RQuaternion q;
    if (trace > 0.0) {
        const double s = std::sqrt(trace + 1.0) * 2.0;
        q.w = 0.25 * s;
        q.x = (m[1][2] - m[2][1]) / s;
        q.y = (m[2][0] - m[0][2]) / s;
        q.z = (m[0][1] - m[1][0]) / s;
    } else if (r00 > r11 && r00 > r22) {
        const double s = std::sqrt(1.0 + r00 - r11 - r22) * 2.0;
        q.w = (m[1][2] - m[2][1]) / s;
        q.x = 0.25 * s;
        q.y = (m[1][0] + m[0][1]) / s;
        q.z = (m[2][0] + m[0][2]) / s;
    } else if (r11 > r22) {
        const double s = std::sqrt(1.0 + r11 - r00 - r22) * 2.0;
        q.w = (m[2][0] - m[0][2]) / s;
        q.x = (m[1][0] + m[0][1]) / s;
        q.y = 0.25 * s;
        q.z = (m[2][1] + m[1][2]) / s;
    } else {
        const double s = std::sqrt(1.0 + r22 - r00 - r11) * 2.0;
        q.w = (m[0][1] - m[1][0]) / s;
        q.x = (m[2][0] + m[0][2]) / s;
        q.y = (m[2][1] + m[1][2]) / s;
        q.z = 0.25 * s;
    }
    return q.normal();
}
}  // namespace

RQuaternion::RQuaternion(double angle, const RVector& axis) noexcept {
    const RVector n = axis.normal();
    if (n.length() == 0.0)
        return;
    const double s = std::sin(angle * 0.5);
    x = n.x * s;
    y = n.y * s;
    z = n.z * s;
    w = std::cos(angle * 0.5);
}

RQuaternion::RQuaternion(const RVector& a, const RVector& b) noexcept {
    const RVector na = a.normal(), nb = b.normal();
    if (na.length() == 0.0 || nb.length() == 0.0)
        return;
    const double d = std::clamp(na * nb, -1.0, 1.0);
    if (d >= 1.0 - 1e-15)
        return;
    if (d <= -1.0 + 1e-15) {
        // Opposite vectors: half a turn about any axis perpendicular to a.
        RVector axis = na ^ RVector::xAxis;
        if (axis.length() < 1e-6)
            axis = na ^ RVector::yAxis;
        *this = RQuaternion(M_PI, axis);
        return;
    }
    *this = RQuaternion(std::acos(d), na ^ nb);
}

RMatrix RQuaternion::asMatrix() const noexcept {
    const RQuaternion q = normal();
    const double xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const double xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    const double wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    RMatrix m;
    m[0][0] = 1.0 - 2.0 * (yy + zz);
    m[0][1] = 2.0 * (xy + wz);
    m[0][2] = 2.0 * (xz - wy);
    m[1][0] = 2.0 * (xy - wz);
    m[1][1] = 1.0 - 2.0 * (xx + zz);
    m[1][2] = 2.0 * (yz + wx);
    m[2][0] = 2.0 * (xz + wy);
    m[2][1] = 2.0 * (yz - wx);
    m[2][2] = 1.0 - 2.0 * (xx + yy);
    return m;
}

RQuaternion RQuaternion::normal() const noexcept {
    const double l = std::sqrt(x * x + y * y + z * z + w * w);
    if (l == 0.0)
        return identity;
    return {x / l, y / l, z / l, w / l};
}

bool RQuaternion::getAxisAngle(RVector& axis, double& angle) const noexcept {
    const RQuaternion q = normal();
    const double s = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
    angle = 2.0 * std::atan2(s, q.w);
    if (s < 1e-15) {
        axis = RVector::xAxis;
        angle = 0.0;
        return false;
    }
    axis = RVector(q.x / s, q.y / s, q.z / s);
    return true;
}

RQuaternion RQuaternion::operator*(const RQuaternion& b) const noexcept {
    // Hamilton product b (x) a: a applies first.
    const RQuaternion& a = *this;
    return {b.w * a.x + b.x * a.w + b.y * a.z - b.z * a.y,
            b.w * a.y - b.x * a.z + b.y * a.w + b.z * a.x,
            b.w * a.z + b.x * a.y - b.y * a.x + b.z * a.w,
            b.w * a.w - b.x * a.x - b.y * a.y - b.z * a.z};
}

bool RQuaternion::isEquivalent(const RQuaternion& o, double tolerance) const noexcept {
    const auto close = [tolerance](const RQuaternion& a, const RQuaternion& b) {
        return std::abs(a.x - b.x) <= tolerance && std::abs(a.y - b.y) <= tolerance &&
               std::abs(a.z - b.z) <= tolerance && std::abs(a.w - b.w) <= tolerance;
    };
    return close(*this, o) || close(*this, RQuaternion(-o.x, -o.y, -o.z, -o.w));
}

RQuaternion slerp(const RQuaternion& a, const RQuaternion& b, double t) noexcept {
    double d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    RQuaternion target = b;
    if (d < 0.0) {
        d = -d;
        target = RQuaternion(-b.x, -b.y, -b.z, -b.w);
    }
    if (t == 0.0)
        return a;
    if (t == 1.0)
        return target;
    double wa = 1.0 - t, wb = t;
    if (d < 1.0 - 1e-9) {
        const double theta = std::acos(std::min(d, 1.0));
        const double s = std::sin(theta);
        wa = std::sin((1.0 - t) * theta) / s;
        wb = std::sin(t * theta) / s;
    }
    return RQuaternion(wa * a.x + wb * target.x, wa * a.y + wb * target.y, wa * a.z + wb * target.z,
                       wa * a.w + wb * target.w)
        .normal();
}

// ---------------------------------------------------------------- REulerRotation
namespace {
RMatrix axisRotation(int axis, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    RMatrix m;
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    m[i][i] = c;
    m[i][j] = s;
    m[j][i] = -s;
    m[j][j] = c;
    return m;
}

// Axes in application order.
void orderAxes(REulerRotation::RotationOrder order, int axes[3]) {
    static const int table[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                    {0, 2, 1}, {1, 0, 2}, {2, 1, 0}};
    const int o =
        static_cast<int>(order) >= 0 && static_cast<int>(order) < 6 ? static_cast<int>(order) : 0;
    for (int k = 0; k < 3; ++k) axes[k] = table[o][k];
}

Imath::Eulerd::Order imathOrder(REulerRotation::RotationOrder order) {
    switch (order) {
        case REulerRotation::kXYZ:
            return Imath::Eulerd::XYZ;
        case REulerRotation::kYZX:
            return Imath::Eulerd::YZX;
        case REulerRotation::kZXY:
            return Imath::Eulerd::ZXY;
        case REulerRotation::kXZY:
            return Imath::Eulerd::XZY;
        case REulerRotation::kYXZ:
            return Imath::Eulerd::YXZ;
        case REulerRotation::kZYX:
            return Imath::Eulerd::ZYX;
    }
    return Imath::Eulerd::XYZ;
}
}  // namespace

RMatrix REulerRotation::asMatrix() const noexcept {
    int axes[3];
    orderAxes(order, axes);
    const double angles[3] = {x, y, z};
    RMatrix m;
    for (int k = 0; k < 3; ++k) m = m * axisRotation(axes[k], angles[axes[k]]);
    return m;
}

RQuaternion REulerRotation::asQuaternion() const noexcept {
    int axes[3];
    orderAxes(order, axes);
    const double angles[3] = {x, y, z};
    const RVector axisVectors[3] = {RVector::xAxis, RVector::yAxis, RVector::zAxis};
    RQuaternion q;
    for (int k = 0; k < 3; ++k) q = q * RQuaternion(angles[axes[k]], axisVectors[axes[k]]);
    return q;
}

REulerRotation REulerRotation::decompose(const RMatrix& m, RotationOrder o) noexcept {
    Imath::M44d rotation = m.toImath();
    for (int r = 0; r < 3; ++r) {
        Imath::V3d row(rotation[r][0], rotation[r][1], rotation[r][2]);
        const double l = row.length();
        if (l > 0.0)
            row /= l;
        rotation[r][0] = row.x;
        rotation[r][1] = row.y;
        rotation[r][2] = row.z;
    }
    Imath::Eulerd euler(imathOrder(o));
    euler.extract(rotation);
    const Imath::V3d angles =
        euler.toXYZVector();  // the fields hold the angles in application order
    return REulerRotation(angles.x, angles.y, angles.z, o);
}

// ---------------------------------------------------------------- RTransformationMatrix
RTransformationMatrix::RTransformationMatrix(const RMatrix& m) noexcept {
    m_translation = RVector(m[3][0], m[3][1], m[3][2]);
    RVector rows[3] = {RVector(m[0][0], m[0][1], m[0][2]), RVector(m[1][0], m[1][1], m[1][2]),
                       RVector(m[2][0], m[2][1], m[2][2])};
    // Gram-Schmidt: lengths along the orthogonalised axes are the scale; shear is dropped.
    double scale[3];
    scale[0] = rows[0].length();
    rows[0] = rows[0].normal();
    rows[1] = rows[1] - rows[0] * (rows[1] * rows[0]);
    scale[1] = rows[1].length();
    rows[1] = rows[1].normal();
    rows[2] = rows[2] - rows[0] * (rows[2] * rows[0]) - rows[1] * (rows[2] * rows[1]);
    scale[2] = rows[2].length();
    rows[2] = rows[2].normal();
    // Degenerate axes are rebuilt from the others so the rotation stays a rotation.
    if (rows[0].length() == 0.0)
        rows[0] =
            rows[1].length() > 0.0 && rows[2].length() > 0.0 ? rows[1] ^ rows[2] : RVector::xAxis;
    if (rows[1].length() == 0.0) {
        rows[1] = rows[2].length() > 0.0
                      ? rows[2] ^ rows[0]
                      : (std::abs(rows[0].y) < 0.9 ? RVector::yAxis : RVector::zAxis);
        rows[1] = (rows[1] - rows[0] * (rows[1] * rows[0])).normal();
    }
    if (rows[2].length() == 0.0)
        rows[2] = rows[0] ^ rows[1];
    if ((rows[0] ^ rows[1]) * rows[2] < 0.0) {
        rows[0] = -rows[0];
        scale[0] = -scale[0];
    }
    m_scale = RVector(scale[0], scale[1], scale[2]);
    const double r[3][3] = {{rows[0].x, rows[0].y, rows[0].z},
                            {rows[1].x, rows[1].y, rows[1].z},
                            {rows[2].x, rows[2].y, rows[2].z}};
    m_rotation = quaternionFromRotation(r);
}

RMatrix RTransformationMatrix::asMatrix() const noexcept {
    RMatrix scale;
    scale[0][0] = m_scale.x;
    scale[1][1] = m_scale.y;
    scale[2][2] = m_scale.z;
    RMatrix out = scale * m_rotation.asMatrix();
    out[3][0] = m_translation.x;
    out[3][1] = m_translation.y;
    out[3][2] = m_translation.z;
    return out;
}

REulerRotation RTransformationMatrix::eulerRotation() const noexcept {
    return REulerRotation::decompose(m_rotation.asMatrix());
}

RTransformationMatrix& RTransformationMatrix::rotateTo(const RQuaternion& q) noexcept {
    m_rotation = q.normal();
    return *this;
}

RTransformationMatrix& RTransformationMatrix::rotateTo(const REulerRotation& e) noexcept {
    m_rotation = e.asQuaternion().normal();
    return *this;
}

RTransformationMatrix& RTransformationMatrix::setTranslation(const RVector& t, Space) noexcept {
    m_translation = t;
    return *this;
}

RTransformationMatrix& RTransformationMatrix::setScale(const RVector& s, Space) noexcept {
    m_scale = s;
    return *this;
}
