#include "mesh/bicgstab.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"

#include <cmath>
#include <string>

namespace bicgstab {

using namespace mesh;

double diagonal[NODE_COUNT];
double lower_x[NODE_COUNT], upper_x[NODE_COUNT];
double lower_y[NODE_COUNT], upper_y[NODE_COUNT];
double lower_z[NODE_COUNT], upper_z[NODE_COUNT];

namespace {

// The iteration's vectors (hat: preconditioned), and the x-line factor:
// one over each pivot of the tridiagonal elimination, and the upper
// coupling over the pivot.
double residual[NODE_COUNT], shadow[NODE_COUNT], direction[NODE_COUNT], image[NODE_COUNT];
double half[NODE_COUNT], half_image[NODE_COUNT], direction_hat[NODE_COUNT], half_hat[NODE_COUNT];
double inv_pivot[NODE_COUNT], upper_over_pivot[NODE_COUNT];

template <class F>
void for_box(F&& f) {
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) f(i, j, k, node(i, j, k));
}

double dot(const double* a, const double* b) {
    double sum = 0;
    for_box([&](int, int, int, int n) { sum += a[n] * b[n]; });
    return sum;
}

// The neighbours of node (i,j,k); at a closed end the node itself, whose
// coefficient there is 0.
struct Neighbours {
    int xm, xp, ym, yp, zm, zp;
};

Neighbours neighbours(int i, int j, int k, int n, bool periodic) {
    const int sy = NX, sz = NX * NY;
    const auto end = [&](bool inside, int next, int wrapped) { return inside ? next : periodic ? wrapped : n; };
    return {end(i > ilo, n - 1, node(ihi, j, k)),  end(i < ihi, n + 1, node(ilo, j, k)),
            end(j > jlo, n - sy, node(i, jhi, k)), end(j < jhi, n + sy, node(i, jlo, k)),
            end(k > klo, n - sz, node(i, j, khi)), end(k < khi, n + sz, node(i, j, klo))};
}

void factor(Preconditioner preconditioner) {
    if (preconditioner == Preconditioner::jacobi) {
        for_box([](int, int, int, int n) { inv_pivot[n] = 1.0 / diagonal[n]; });
        return;
    }
    // Each line along x alone, its wrap-around left out.
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j) {
            double upper_before = 0;  // upper coupling over pivot of the node before
            for (int i = ilo; i <= ihi; ++i) {
                const int n = node(i, j, k);
                const double pivot = diagonal[n] - (i > ilo ? lower_x[n] * upper_before : 0.0);
                inv_pivot[n] = 1.0 / pivot;
                upper_over_pivot[n] = i < ihi ? upper_x[n] * inv_pivot[n] : 0.0;
                upper_before = upper_over_pivot[n];
            }
        }
}

// out := M^-1·r.
void precondition(Preconditioner preconditioner, const double* r, double* out) {
    if (preconditioner == Preconditioner::jacobi) {
        for_box([&](int, int, int, int n) { out[n] = r[n] * inv_pivot[n]; });
        return;
    }
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j) {
            const int first = node(ilo, j, k), last = node(ihi, j, k);
            out[first] = r[first] * inv_pivot[first];
            for (int n = first + 1; n <= last; ++n) out[n] = (r[n] - lower_x[n] * out[n - 1]) * inv_pivot[n];
            for (int n = last - 1; n >= first; --n) out[n] -= upper_over_pivot[n] * out[n + 1];
        }
}

void stop_unconverged(double relative, double tolerance) {
    pdp::fatal({"ERROR: the electron fluid's transport solve did not converge in " + std::to_string(MAX_ITERATIONS) +
                    " iterations:",
                "       its relative residual is " + fortran::free_real(relative) + " (tolerance " +
                    fortran::free_real(tolerance) + "); take a shorter time step"});
}

}  // namespace

void multiply(const double* x, double* out, bool periodic) {
    for_box([&](int i, int j, int k, int n) {
        const Neighbours b = neighbours(i, j, k, n, periodic);
        out[n] = diagonal[n] * x[n] + lower_x[n] * x[b.xm] + upper_x[n] * x[b.xp] + lower_y[n] * x[b.ym] +
                 upper_y[n] * x[b.yp] + lower_z[n] * x[b.zm] + upper_z[n] * x[b.zp];
    });
}

Result solve(const double* rhs, double* x, double tolerance, Preconditioner preconditioner, bool periodic) {
    Result result;
    const double rhs_norm = std::sqrt(dot(rhs, rhs));
    if (!(rhs_norm > 0)) {
        for_box([&](int, int, int, int n) { x[n] = 0; });
        return result;
    }
    if (!std::isfinite(rhs_norm))
        pdp::fatal({"ERROR: the electron fluid's transport solve met a value that is not finite"});
    factor(preconditioner);
    // The recursive residual drifts from the true one in rounding: when it
    // passes, the true one is checked, and the iteration restarted from it if
    // that fails.
    for (;;) {
        multiply(x, image, periodic);
        for_box([&](int, int, int, int n) {
            residual[n] = rhs[n] - image[n];
            shadow[n] = residual[n];
            direction[n] = image[n] = 0;
        });
        double relative = std::sqrt(dot(residual, residual)) / rhs_norm;
        if (!std::isfinite(relative))
            pdp::fatal({"ERROR: the electron fluid's transport solve met a value that is not finite"});
        result.relative_residual = relative;
        if (relative <= tolerance) break;
        double rho = 1, alpha = 1, omega = 1;
        while (relative > tolerance) {
            if (result.iterations >= MAX_ITERATIONS) stop_unconverged(relative, tolerance);
            ++result.iterations;
            const double rho_new = dot(shadow, residual);
            if (rho_new == 0 || omega == 0) break;  // breakdown: start again from the true residual
            const double beta = rho_new / rho * (alpha / omega);
            rho = rho_new;
            for_box([&](int, int, int, int n) { direction[n] = residual[n] + beta * (direction[n] - omega * image[n]); });
            precondition(preconditioner, direction, direction_hat);
            multiply(direction_hat, image, periodic);
            alpha = rho / dot(shadow, image);
            for_box([&](int, int, int, int n) { half[n] = residual[n] - alpha * image[n]; });
            const double half_relative = std::sqrt(dot(half, half)) / rhs_norm;
            if (half_relative <= tolerance) {
                for_box([&](int, int, int, int n) { x[n] += alpha * direction_hat[n]; });
                break;
            }
            precondition(preconditioner, half, half_hat);
            multiply(half_hat, half_image, periodic);
            const double tt = dot(half_image, half_image);
            omega = tt > 0 ? dot(half_image, half) / tt : 0.0;
            for_box([&](int, int, int, int n) {
                x[n] += alpha * direction_hat[n] + omega * half_hat[n];
                residual[n] = half[n] - omega * half_image[n];
            });
            relative = std::sqrt(dot(residual, residual)) / rhs_norm;
            if (!std::isfinite(relative))
                pdp::fatal({"ERROR: the electron fluid's transport solve met a value that is not finite"});
        }
    }
    return result;
}

}  // namespace bicgstab
