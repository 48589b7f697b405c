"""Statistics of firing and delay: binomial intervals, the firing curve fit,
and the two delay-distribution fits (exponential with a shift; exponential
convolved with a Gaussian), each with its uncertainties."""
import math
from statistics import NormalDist

import numpy as np

LN9 = math.log(9.0)


def z_of(confidence):
    return NormalDist().inv_cdf(0.5 + confidence / 2.0)


def wilson(k, n, confidence=0.95):
    """Wilson score interval of a binomial proportion k/n: (low, high)."""
    if n == 0:
        return (float("nan"), float("nan"))
    z = z_of(confidence)
    p = k / n
    centre = (p + z * z / (2 * n)) / (1 + z * z / n)
    half = z * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n)) / (1 + z * z / n)
    # exact at the edges, where rounding would leave 1e-17 for 0
    return (0.0 if k == 0 else max(0.0, centre - half), 1.0 if k == n else min(1.0, centre + half))


def fit_firing_curve(voltages, fired):
    """Firing probability P(V) = 1 / (1 + exp(-(V - V50) / w)) fitted to runs
    (V, 0/1) by maximum likelihood. Returns a dict: V50, V50_err, V90,
    V90_err, width, method. When no voltage has both outcomes the likelihood
    has no maximum; then V50 is the midpoint between the highest voltage that
    never fired and the lowest that always did, its error half that gap, and
    V90 is not given (method "bracket"). So too when the only voltages with
    both outcomes lie between a voltage that never fired and one that always
    did, yet give no maximum (one such voltage, a few seeds: the curve turns
    into a step there)."""
    v = np.asarray(voltages, float)
    y = np.asarray(fired, float)
    out = {"V50": None, "V50_err": None, "V90": None, "V90_err": None, "width": None, "method": "none"}
    if len(v) == 0 or y.min() == y.max():
        out["method"] = "all fired" if len(v) and y.min() == 1 else "none fired"
        return out
    lo_fired, hi_unfired = v[y == 1].min(), v[y == 0].max()
    if hi_unfired < lo_fired:
        out.update(V50=(hi_unfired + lo_fired) / 2, V50_err=(lo_fired - hi_unfired) / 2, method="bracket")
        return out
    scale = max(1.0, float(np.std(v)))
    x = (v - v.mean()) / scale          # centred for a well-conditioned Newton step
    beta = np.zeros(2)
    for _ in range(100):
        p = 1 / (1 + np.exp(-(beta[0] + beta[1] * x)))
        grad = np.array([np.sum(y - p), np.sum((y - p) * x)])
        wgt = p * (1 - p)
        info = np.array([[wgt.sum(), (wgt * x).sum()], [(wgt * x).sum(), (wgt * x * x).sum()]])
        try:
            step = np.linalg.solve(info, grad)
        except np.linalg.LinAlgError:     # a curve turned into a step: no maximum
            break
        beta = beta + step
        if np.max(np.abs(step)) < 1e-10:
            break
    else:
        step = None
    if step is None or np.max(np.abs(step)) >= 1e-10 or np.abs(beta).max() > 50:
        out["method"] = "no maximum"
        levels = sorted(set(v))
        rate = [y[v == u].mean() for u in levels]
        never = [u for u, r in zip(levels, rate) if r == 0]
        always = [u for u, r in zip(levels, rate) if r == 1]
        if never and always and max(never) < min(always) and \
                all(0 < r < 1 for u, r in zip(levels, rate) if max(never) < u < min(always)) and \
                all(r == 0 for u, r in zip(levels, rate) if u < max(never)) and \
                all(r == 1 for u, r in zip(levels, rate) if u > min(always)):
            out.update(V50=(max(never) + min(always)) / 2, V50_err=(min(always) - max(never)) / 2, method="bracket")
        return out
    cov = np.linalg.inv(info)
    a, b = beta
    if b <= 0:
        out["method"] = "falling"
        return out
    # back to volts: V50 = mean - a scale / b, V90 = V50 + ln 9 scale / b
    v50 = v.mean() - a * scale / b
    v90 = v.mean() + (LN9 - a) * scale / b
    g50 = np.array([-scale / b, a * scale / b ** 2])
    g90 = np.array([-scale / b, -(LN9 - a) * scale / b ** 2])
    out.update(V50=v50, V50_err=math.sqrt(g50 @ cov @ g50), V90=v90, V90_err=math.sqrt(g90 @ cov @ g90),
               width=scale / b, method="logistic")
    return out


def fit_shifted_exponential(delays, exposures=()):
    """Delay = t_f + an exponential of mean t_s: t_f the formative lag, t_s the
    statistical lag. `delays` of the runs that fired; `exposures`, the time
    each unfired run was watched (its delay is beyond it: right-censored).
    Maximum likelihood: t_f is the shortest delay, t_s the time at risk
    after it over the k - 1 fired (unbiased); then t_f less the expected
    shortest-delay excess t_s / n. Errors: t_s / sqrt(k), t_s / n."""
    d = np.asarray(delays, float)
    e = np.asarray(exposures, float)
    k, n = len(d), len(d) + len(e)
    if k < 2:
        return None
    first = d.min()
    at_risk = np.sum(d - first) + np.sum(np.clip(e - first, 0, None))
    ts = at_risk / (k - 1)
    return {"t_f": first - ts / n, "t_f_err": ts / n, "t_s": ts, "t_s_err": ts / math.sqrt(k), "k": k, "n": n}


SQRT2 = math.sqrt(2.0)


def log_erfc(z):
    """log(erfc(z)) for arrays, accurate to about 1e-7 relative, with no underflow
    for large z (Chebyshev fit of erfc(z) exp(z^2), Numerical Recipes' erfcc)."""
    z = np.asarray(z, float)
    a = np.abs(z)
    t = 1.0 / (1.0 + 0.5 * a)
    poly = (-1.26551223 + t * (1.00002368 + t * (0.37409196 + t * (0.09678418 + t * (-0.18628806 + t * (
        0.27886807 + t * (-1.13520398 + t * (1.48851587 + t * (-0.82215223 + t * 0.17087277)))))))))
    log_pos = np.log(t) - a * a + poly          # log erfc(|z|)
    return np.where(z >= 0, log_pos, np.log(2.0 - np.exp(log_pos)))


def exgauss_logpdf(x, mu, sigma, tau):
    """Log density of a Gaussian (mu, sigma) plus an exponential of mean tau."""
    x = np.asarray(x, float)
    lam = 1.0 / tau
    return (math.log(lam / 2) + lam * (mu - x) + lam * lam * sigma * sigma / 2
            + log_erfc((mu + lam * sigma * sigma - x) / (SQRT2 * sigma)))


def nelder_mead(f, x0, step, tol=1e-10, max_evals=4000):
    """Minimum of f near x0 (simplex method); no derivatives."""
    n = len(x0)
    pts = [np.asarray(x0, float)] + [np.asarray(x0, float) + np.eye(n)[i] * step[i] for i in range(n)]
    vals = [f(p) for p in pts]
    evals = n + 1
    while evals < max_evals:
        order = np.argsort(vals)
        pts, vals = [pts[i] for i in order], [vals[i] for i in order]
        if abs(vals[-1] - vals[0]) <= tol * (abs(vals[0]) + tol):
            break
        centre = np.mean(pts[:-1], axis=0)
        xr = centre + (centre - pts[-1])
        fr = f(xr)
        evals += 1
        if fr < vals[0]:
            xe = centre + 2 * (centre - pts[-1])
            fe = f(xe)
            evals += 1
            pts[-1], vals[-1] = (xe, fe) if fe < fr else (xr, fr)
        elif fr < vals[-2]:
            pts[-1], vals[-1] = xr, fr
        else:
            xc = centre + 0.5 * (pts[-1] - centre)
            fc = f(xc)
            evals += 1
            if fc < vals[-1]:
                pts[-1], vals[-1] = xc, fc
            else:
                for i in range(1, n + 1):
                    pts[i] = pts[0] + 0.5 * (pts[i] - pts[0])
                    vals[i] = f(pts[i])
                evals += n
    best = int(np.argmin(vals))
    return pts[best], vals[best]


MIN_EXGAUSS = 10


def fit_exgauss(delays):
    """Maximum-likelihood exponential-Gaussian fit of the delays of fired runs:
    mu the formative lag, sigma its spread, tau the statistical lag. Errors
    from the inverse of the observed information (the Hessian of -log L).
    None with fewer than MIN_EXGAUSS delays (fewer do not fix three
    parameters), or with no proper maximum (one of the parts vanishing)."""
    d = np.asarray(delays, float)
    if len(d) < MIN_EXGAUSS:
        return None
    m, s = d.mean(), d.std()
    if s == 0:
        return None
    skew = np.mean((d - m) ** 3) / s ** 3
    tau0 = s * min(max(skew / 2, 0.05), 0.95) ** (1 / 3)
    sig0 = math.sqrt(max(s * s - tau0 * tau0, (0.1 * s) ** 2))

    def nll(p):
        return -np.sum(exgauss_logpdf(d, p[0], math.exp(p[1]), math.exp(p[2])))

    best, _ = nelder_mead(nll, [m - tau0, math.log(sig0), math.log(tau0)], [0.1 * s, 0.3, 0.3])
    best, _ = nelder_mead(nll, best, [0.02 * s, 0.05, 0.05])      # restart: the simplex can stall
    theta = np.array([best[0], math.exp(best[1]), math.exp(best[2])])
    if min(theta[1], theta[2]) < 0.02 * s:      # at the edge: a pure Gaussian or a pure exponential
        return None

    def nll_direct(q):
        if q[1] <= 0 or q[2] <= 0:
            return math.inf
        return -np.sum(exgauss_logpdf(d, q[0], q[1], q[2]))

    h = np.maximum(np.abs(theta) * 1e-4, 1e-6 * s)
    hess = np.zeros((3, 3))
    f0 = nll_direct(theta)
    for i in range(3):
        for j in range(i, 3):
            ei, ej = np.eye(3)[i] * h[i], np.eye(3)[j] * h[j]
            if i == j:
                v = (nll_direct(theta + ei) - 2 * f0 + nll_direct(theta - ei)) / h[i] ** 2
            else:
                v = (nll_direct(theta + ei + ej) - nll_direct(theta + ei - ej) - nll_direct(theta - ei + ej)
                     + nll_direct(theta - ei - ej)) / (4 * h[i] * h[j])
            hess[i, j] = hess[j, i] = v
    try:
        cov = np.linalg.inv(hess)
    except np.linalg.LinAlgError:
        return None
    if not np.all(np.isfinite(hess)) or not np.all(np.isfinite(cov)) or np.any(np.diag(cov) <= 0):
        return None
    err = np.sqrt(np.diag(cov))
    return {"mu": theta[0], "mu_err": err[0], "sigma": theta[1], "sigma_err": err[1], "tau": theta[2],
            "tau_err": err[2], "k": len(d)}
