// The transform builder: scale, rotation and axis angle to a 2 x 2 matrix,
// and the position moved so that a chosen point of the source stays put.
#include <cmath>
#include <limits>

#include "esl_image_draw.h"

namespace {

LONG RoundToLong(double v) {
    // Ties to even, as the default rounding mode does.
    const double r = std::nearbyint(v);
    if (!(r >= std::numeric_limits<LONG>::min()))
        return std::numeric_limits<LONG>::min();
    if (r > std::numeric_limits<LONG>::max())
        return std::numeric_limits<LONG>::max();
    return static_cast<LONG>(r);
}

}  // namespace

int BuildImageTransform(ImageMatrix* pMatrix, POINT* pPosition, const POINT* pOrigin, double sx, double sy,
                        double fAngle, double fAxisAngle, DWORD dwFlags) {
    if (!pMatrix)
        return 1;
    long double xAngle = fAngle;
    long double yAngle = static_cast<long double>(fAngle) + fAxisAngle;
    if (!(dwFlags & kTransformRadians)) {
        constexpr long double kRadiansPerDegree = 3.141592653589793238462643383279502884L / 180.0L;
        xAngle *= kRadiansPerDegree;
        yAngle *= kRadiansPerDegree;
    }
    pMatrix->m00 = static_cast<float>(std::cos(xAngle) * sx);
    pMatrix->m01 = static_cast<float>(std::sin(xAngle) * sx);
    pMatrix->m10 = static_cast<float>(std::cos(yAngle) * sy);
    pMatrix->m11 = static_cast<float>(std::sin(yAngle) * sy);
    if (pOrigin && pPosition) {
        const double ox = pOrigin->x, oy = pOrigin->y;
        pPosition->x = RoundToLong(pPosition->x - pMatrix->m00 * ox - pMatrix->m10 * oy);
        pPosition->y = RoundToLong(pPosition->y - pMatrix->m01 * ox - pMatrix->m11 * oy);
    }
    return 0;
}
