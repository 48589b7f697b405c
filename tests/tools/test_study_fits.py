"""The study tool's fits on synthetic data from known distributions: each must
recover the truth within its stated uncertainty as often as that uncertainty
promises (coverage over many data sets, fixed seeds)."""
import math
import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pdpcell_study import stats  # noqa: E402


def coverage(estimates, errors, truth, k):
    e, s = np.asarray(estimates), np.asarray(errors)
    return float(np.mean(np.abs(e - truth) <= k * s))


def bias_in_standard_errors(estimates, truth):
    """How far the mean of the estimates is from the truth, in standard errors of that mean."""
    e = np.asarray(estimates)
    return abs(e.mean() - truth) / (e.std(ddof=1) / math.sqrt(e.size))


class DelayFits(unittest.TestCase):
    def test_shifted_exponential_recovers_both_lags(self):
        rng = np.random.default_rng(7)
        tf, ts, n = 120.0, 60.0, 40
        fits = [stats.fit_shifted_exponential(tf + rng.exponential(ts, n)) for _ in range(400)]
        # t_s error is the Gaussian-limit one: about 68 % within 1 sigma, 95 % within 2
        self.assertTrue(0.60 <= coverage([f["t_s"] for f in fits], [f["t_s_err"] for f in fits], ts, 1) <= 0.78)
        self.assertGreater(coverage([f["t_s"] for f in fits], [f["t_s_err"] for f in fits], ts, 2), 0.90)
        # t_f: the shortest delay's excess is exponential; within 2 sigma 1 - e^-3 = 95 %
        self.assertGreater(coverage([f["t_f"] for f in fits], [f["t_f_err"] for f in fits], tf, 2), 0.90)
        self.assertLess(abs(np.mean([f["t_s"] for f in fits]) - ts), 3 * ts / math.sqrt(n * 400))

    def test_censored_runs_count_as_time_at_risk(self):
        # Half the runs do not fire within the window: dropping them would halve
        # t_s, and taking t_f's shortest-delay excess over the fired alone
        # (t_s / k for t_s / n) would shift t_f by about 3 ns, 10 standard errors here.
        rng = np.random.default_rng(11)
        tf, ts, window, n = 100.0, 200.0, 250.0, 60
        fits, naive = [], []
        for _ in range(300):
            d = tf + rng.exponential(ts, n)
            fired = d[d <= window]
            fits.append(stats.fit_shifted_exponential(fired, [window] * int(np.sum(d > window))))
            naive.append(stats.fit_shifted_exponential(fired)["t_s"])
        for name, truth in (("t_s", ts), ("t_f", tf)):
            estimates = [f[name] for f in fits]
            self.assertGreater(coverage(estimates, [f[name + "_err"] for f in fits], truth, 2), 0.90, name)
            self.assertLess(bias_in_standard_errors(estimates, truth), 3, name)
        self.assertLess(np.mean(naive), 0.6 * ts)
        self.assertIsNone(stats.fit_shifted_exponential([150.0], [300.0] * 9))

    def test_exponential_gaussian_recovers_its_three_parameters(self):
        rng = np.random.default_rng(3)
        mu, sigma, tau, n = 200.0, 25.0, 80.0, 150
        fits = [stats.fit_exgauss(rng.normal(mu, sigma, n) + rng.exponential(tau, n)) for _ in range(150)]
        self.assertTrue(all(f is not None for f in fits))
        for name, truth in (("mu", mu), ("sigma", sigma), ("tau", tau)):
            c = coverage([f[name] for f in fits], [f[name + "_err"] for f in fits], truth, 2)
            self.assertGreater(c, 0.88, name)
            c1 = coverage([f[name] for f in fits], [f[name + "_err"] for f in fits], truth, 1)
            self.assertTrue(0.55 <= c1 <= 0.82, (name, c1))
        self.assertIsNone(stats.fit_exgauss([1.0, 2.0, 3.0]))
        # a tail to the left has no exponential part to give: no fit, not tau = 0
        self.assertIsNone(stats.fit_exgauss(400 - rng.normal(mu, sigma, n) - rng.exponential(tau, n)))

    def test_log_erfc_matches_the_library_and_does_not_underflow(self):
        z = np.array([-5.0, -1.2, 0.0, 0.7, 3.0, 8.0])
        self.assertTrue(np.allclose(stats.log_erfc(z), [math.log(math.erfc(x)) for x in z], rtol=1e-6, atol=1e-7))
        self.assertTrue(np.isfinite(stats.log_erfc([40.0, 200.0])).all())


class FiringCurve(unittest.TestCase):
    def test_logistic_fit_recovers_v50_and_v90(self):
        # The design 155..185 V is centred on 170 V. A curve centred there hides
        # a wrong sign on the offset of V50 and V90 from the design's centre;
        # one 7 V below it (V90 2 V above) shows it.
        volts = np.repeat(np.arange(155.0, 190.0, 5.0), 20)
        for seed, v50, width in ((5, 170.0, 5.0), (13, 163.0, 4.0)):
            rng = np.random.default_rng(seed)
            fits = []
            for _ in range(200):
                fired = (rng.uniform(size=volts.size) < 1 / (1 + np.exp(-(volts - v50) / width))).astype(int)
                fits.append(stats.fit_firing_curve(volts, fired))
            self.assertTrue(all(f["method"] == "logistic" for f in fits))
            for name, truth in (("V50", v50), ("V90", v50 + width * math.log(9))):
                estimates = [f[name] for f in fits]
                self.assertGreater(coverage(estimates, [f[name + "_err"] for f in fits], truth, 2), 0.90, (v50, name))
                self.assertLess(bias_in_standard_errors(estimates, truth), 3, (v50, name))

    def test_separated_outcomes_give_a_bracket_not_a_divergent_fit(self):
        f = stats.fit_firing_curve([150, 150, 160, 160, 170, 170], [0, 0, 0, 0, 1, 1])
        self.assertEqual((f["method"], f["V50"], f["V50_err"], f["V90"]), ("bracket", 165.0, 5.0, None))
        self.assertEqual(stats.fit_firing_curve([150, 160], [0, 0])["method"], "none fired")
        # falling with voltage, and falling to a step: no firing voltage
        self.assertEqual(stats.fit_firing_curve([160, 160, 180, 180], [1, 1, 0, 1])["method"], "no maximum")
        self.assertIn(stats.fit_firing_curve([150, 150, 160, 160, 170, 170], [1, 0, 1, 0, 0, 1])["method"],
                      ("falling", "no maximum"))
        self.assertEqual(stats.fit_firing_curve([150, 160], [1, 1])["method"], "all fired")
        # a step at the one voltage with both outcomes: the bracket around it
        f = stats.fit_firing_curve([110, 110, 125, 125, 140, 140, 155, 155], [0, 0, 1, 0, 1, 1, 1, 1])
        self.assertEqual((f["method"], f["V50"], f["V50_err"]), ("bracket", 125.0, 15.0))
        # but not when an outcome falls again above it
        f = stats.fit_firing_curve([110, 110, 125, 125, 140, 140, 155, 155], [0, 0, 1, 0, 1, 1, 0, 0])
        self.assertNotEqual(f["method"], "bracket")

    def test_wilson_interval(self):
        # published values for 3 of 10 and the edges
        lo, hi = stats.wilson(3, 10)
        self.assertAlmostEqual(lo, 0.1078, places=4)
        self.assertAlmostEqual(hi, 0.6032, places=4)
        self.assertEqual(stats.wilson(0, 10)[0], 0.0)
        self.assertEqual(stats.wilson(10, 10)[1], 1.0)
        # and it covers p at about its nominal level
        rng = np.random.default_rng(2)
        hits = [lo <= 0.3 <= hi for lo, hi in (stats.wilson(int(k), 25) for k in rng.binomial(25, 0.3, 2000))]
        self.assertGreater(np.mean(hits), 0.92)


if __name__ == "__main__":
    unittest.main()
