"""GaussianProcess: against scikit-learn on point data, against dense quadrature on bin averages."""

import math

import numpy as np
import pytest
from scipy.stats import multivariate_normal
from sklearn.gaussian_process import GaussianProcessRegressor
from sklearn.gaussian_process.kernels import RBF, ConstantKernel, Matern, WhiteKernel

import quorvel as q
from helpers import gauss_legendre

S = q.Space
SQ3 = math.sqrt(3.0)
PEERS = {
    "squared_exponential": lambda l: RBF(l),
    "exponential": lambda l: Matern(l, nu=0.5),
    "matern32": lambda l: Matern(l, nu=1.5),
    "matern52": lambda l: Matern(l, nu=2.5),
}


def points(n, dims=1, seed=1):
    rng = np.random.default_rng(seed)
    x = rng.uniform(0.0, 6.0, (n, dims))
    y = np.sin(x).sum(axis=1) + 0.1 * rng.normal(size=n)
    return x, y


def deltas(x):
    return [S.deltas(np.ascontiguousarray(column)) for column in x.T]


def peer(family, length, variance, noise, **kw):
    kernel = ConstantKernel(variance) * PEERS[family](length) + WhiteKernel(noise)
    return GaussianProcessRegressor(kernel, alpha=0.0, **kw)


@pytest.mark.parametrize("family, length, n", [
    ("squared_exponential", 1.3, 30), ("exponential", 1.3, 30), ("matern32", 1.3, 30),
    ("matern52", 1.3, 30), ("squared_exponential", np.array([0.9, 1.7]), 30),
])
def test_matches_scikit_learn_at_fixed_hyperparameters(family, length, n):
    x, y = points(n, np.size(length))
    theirs = peer(family, length, 0.7, 0.05, optimizer=None).fit(x, y)
    ours = q.GaussianProcess(family, length, 0.7, 0.05, optimize=False).fit(deltas(x), y)
    np.testing.assert_allclose(ours.theta_, theirs.kernel_.theta, rtol=1e-14)
    np.testing.assert_allclose(ours.log_marginal_likelihood_value_,
                               theirs.log_marginal_likelihood_value_, rtol=1e-9)
    theta = theirs.kernel_.theta + np.linspace(-0.2, 0.3, len(ours.theta_))
    value, gradient = ours.log_marginal_likelihood(theta, eval_gradient=True)
    peer_value, peer_gradient = theirs.log_marginal_likelihood(theta, eval_gradient=True)
    np.testing.assert_allclose(value, peer_value, rtol=1e-9)
    np.testing.assert_allclose(gradient, peer_gradient, rtol=1e-9,
                               atol=1e-9 * np.abs(peer_gradient).max())

    new = np.vstack([x[:3], np.random.default_rng(2).uniform(-1.0, 7.0, (20, x.shape[1]))])
    mean, std = ours.predict(deltas(new), return_std=True)
    peer_mean, peer_std = theirs.predict(new, return_std=True)
    np.testing.assert_allclose(mean, peer_mean, rtol=1e-9, atol=1e-12)
    # scikit-learn's spread includes the white noise; ours is that of the latent function.
    np.testing.assert_allclose(std**2 + 0.05, peer_std**2, rtol=1e-9)
    _, cov = ours.predict(deltas(new), return_cov=True)
    _, peer_cov = theirs.predict(new, return_cov=True)
    np.testing.assert_allclose(cov + 0.05 * np.eye(len(new)), peer_cov, rtol=1e-9, atol=1e-12)


@pytest.mark.parametrize("family, normalize_y", [("squared_exponential", False),
                                                 ("matern32", True)])
def test_optimised_hyperparameters_match_scikit_learn(family, normalize_y):
    x, y = points(40)
    y = y + 3.0
    theirs = peer(family, 1.0, 1.0, 0.01, normalize_y=normalize_y).fit(x, y)
    ours = q.GaussianProcess(family, 1.0, 1.0, 0.01, normalize_y=normalize_y).fit(deltas(x), y)
    assert ours.optimize_result_.success
    np.testing.assert_allclose(np.exp(ours.theta_), np.exp(theirs.kernel_.theta), rtol=1e-4)
    np.testing.assert_allclose([ours.variance_, ours.length_, ours.noise_],
                               np.exp(theirs.kernel_.theta), rtol=1e-4)
    np.testing.assert_allclose(ours.log_marginal_likelihood_value_,
                               theirs.log_marginal_likelihood_value_, rtol=1e-6)


def test_fixed_and_per_observation_noise_match_scikit_learns_alpha():
    x, y = points(25)
    noise = np.random.default_rng(3).uniform(0.01, 0.1, len(y))
    theirs = GaussianProcessRegressor(ConstantKernel(0.8, "fixed") * RBF(1.0),
                                      alpha=noise).fit(x, y)
    ours = q.GaussianProcess("squared_exponential", 1.0, 0.8, noise,
                             variance_bounds="fixed").fit(deltas(x), y)
    assert ours.theta_names_ == ["length"]
    assert ours.variance_ == 0.8 and np.array_equal(ours.noise_, noise)
    np.testing.assert_allclose(ours.length_, np.exp(theirs.kernel_.theta[0]), rtol=1e-4)
    np.testing.assert_allclose(ours.log_marginal_likelihood_value_,
                               theirs.log_marginal_likelihood_value_, rtol=1e-6)


def matern32(r, l):
    z = SQ3 * np.abs(r) / l
    return (1.0 + z) * np.exp(-z)


KERNELS = {"squared_exponential": lambda r, l: np.exp(-0.5 * (r / l) ** 2),
           "matern32": matern32}


def box_average_covariance(k, edges_a, edges_b):
    """Averages of k(x - y) over pairs of bins by Gauss-Legendre quadrature: the outer integral
    split at the ends of the other bin, the inner one at the kink x = y."""
    t, w = np.polynomial.legendre.leggauss(40)
    out = np.empty((len(edges_a) - 1, len(edges_b) - 1))
    for i, (a, b) in enumerate(zip(edges_a[:-1], edges_a[1:])):
        for j, (c, d) in enumerate(zip(edges_b[:-1], edges_b[1:])):
            xs, xw = gauss_legendre(np.clip([a, b, c, d], a, b), 40)
            kink = np.clip(xs, c, d)[:, None]
            total = 0.0
            for lo, hi in ((c, kink), (kink, d)):
                ys = lo + (hi - lo) * (t + 1.0) / 2.0
                total += np.sum(xw[:, None] * (hi - lo) / 2.0 * w * k(xs[:, None] - ys))
            out[i, j] = total / ((b - a) * (d - c))
    return out


@pytest.mark.parametrize("family", ["squared_exponential", "matern32"])
def test_bin_averages_match_dense_quadrature(family):
    rng = np.random.default_rng(4)
    edges = np.sort(np.concatenate([[0.0, 8.0], rng.uniform(0.0, 8.0, 9)]))
    y = np.sin(edges[:-1]) + 0.05 * rng.normal(size=len(edges) - 1)
    new = np.array([-0.5, 0.3, 1.0, 2.5, 2.6, 5.0, 8.5])
    length, variance, noise = 0.9, 1.3, 0.01
    gp = q.GaussianProcess(family, length, variance, noise, optimize=False).fit(S.boxes(edges), y)
    mean, std = gp.predict(S.boxes(new), return_std=True)

    def k(r):
        return variance * KERNELS[family](r, length)

    c = box_average_covariance(k, edges, edges) + noise * np.eye(len(y))
    cross = box_average_covariance(k, new, edges)
    prior = np.diag(box_average_covariance(k, new, new))
    ref_mean = cross @ np.linalg.solve(c, y)
    ref_var = prior - np.einsum("ij,ji->i", cross, np.linalg.solve(c, cross.T))
    np.testing.assert_allclose(mean, ref_mean, rtol=1e-9, atol=1e-9)
    np.testing.assert_allclose(std**2, ref_var, rtol=1e-9, atol=1e-9 * variance)
    np.testing.assert_allclose(gp.log_marginal_likelihood_value_,
                               multivariate_normal(np.zeros(len(y)), c).logpdf(y), rtol=1e-9)


def test_periodic_kernel_matches_a_dense_sum_over_images():
    x, y = points(15)
    period, length, variance, noise = 2.5, 0.7, 1.1, 0.02
    gp = q.GaussianProcess("matern32", length, variance, noise, period=period,
                           optimize=False).fit(deltas(x), y)
    new = np.linspace(-3.0, 9.0, 13)

    def k(a, b):
        r = np.subtract.outer(a, b)[..., None] - period * np.arange(-20, 21)
        return variance * matern32(r, length).sum(axis=-1)

    c = k(x[:, 0], x[:, 0]) + noise * np.eye(len(y))
    mean, cov = gp.predict(S.deltas(new), return_cov=True)
    cross = k(new, x[:, 0])
    np.testing.assert_allclose(mean, cross @ np.linalg.solve(c, y), rtol=1e-9, atol=1e-12)
    np.testing.assert_allclose(cov, k(new, new) - cross @ np.linalg.solve(c, cross.T),
                               rtol=1e-9, atol=1e-12)


def test_samples_follow_the_posterior():
    x, y = points(12)
    gp = q.GaussianProcess("matern52", 1.2, 1.0, 0.02, optimize=False).fit(deltas(x), y)
    new = S.boxes(np.array([0.0, 1.0, 2.0, 4.0]))
    mean, cov = gp.predict(new, return_cov=True)
    draws = gp.sample_y(new, 20000, random_state=5)
    assert draws.shape == (3, 20000)
    sd = np.sqrt(np.diag(cov))
    np.testing.assert_allclose(draws.mean(axis=1), mean, atol=5 * sd.max() / math.sqrt(20000))
    np.testing.assert_allclose(np.cov(draws), cov, atol=0.05 * sd.max() ** 2)


def test_restarts_keep_the_best_optimum_reproducibly():
    x, y = points(30)
    atoms = deltas(x)
    single = q.GaussianProcess("matern32", 30.0, 0.1, 0.5).fit(atoms, y)
    many = [q.GaussianProcess("matern32", 30.0, 0.1, 0.5, n_restarts=3,
                              random_state=7).fit(atoms, y) for _ in range(2)]
    assert many[0].log_marginal_likelihood_value_ >= single.log_marginal_likelihood_value_ - 1e-9
    assert np.array_equal(many[0].theta_, many[1].theta_)


def test_a_singular_covariance_asks_for_a_noise_floor():
    x = np.array([0.0, 1.0, 1.0, 2.0])
    gp = q.GaussianProcess("squared_exponential", noise=0.0, noise_bounds="fixed",
                           optimize=False)
    with pytest.raises(q.SingularError, match="not positive definite.*noise floor"):
        gp.fit(S.deltas(x), np.array([0.0, 1.0, 1.1, 0.0]))


@pytest.mark.parametrize("kwargs, fit_args, message", [
    ({"kernel": "rbf"}, None, "unknown kernel 'rbf'; the families are 'squared_exponential',"),
    ({"length": [1.0, 2.0]}, None, r"length must be given once or once per dimension \(1\)"),
    ({"length": -1.0}, None, "length must be finite and > 0, got -1.0"),
    ({"period": 0.0}, None, "period must be None, or finite and > 0, got 0.0"),
    ({"length_bounds": (2.0, 1.0)}, None, r"length_bounds must be \"fixed\" or \(low, high\)"),
    ({"variance": 0.0}, None, "variance must be finite and > 0, got 0.0"),
    ({"length": 1e6}, None, r"length 1000000.0 is outside its bounds \(1e-05, 100000.0\)"),
    ({"noise": 0.0}, None, "noise must be > 0 to be optimised"),
    ({"noise": np.ones(3)}, None, r"noise must be one value or one per observation, shape \(4,\)"),
    ({}, (S.deltas(np.arange(4.0)), np.zeros(3)), r"y must have one value per atom, shape \(4,\)"),
    ({}, (S.deltas(np.arange(4.0)), np.array([0, 1, np.nan, 0])),
     "y must be finite, got nan at index 2"),
    ({}, ([S.deltas(np.arange(4.0)), S.deltas(np.arange(3.0))], np.zeros(4)),
     r"got lengths \[4, 3\]"),
])
def test_invalid_arguments_are_named(kwargs, fit_args, message):
    atoms, y = fit_args or (S.deltas(np.arange(4.0)), np.zeros(4))
    with pytest.raises(ValueError, match=message):
        q.GaussianProcess(**kwargs).fit(atoms, y)


def test_invalid_calls_after_fit():
    gp = q.GaussianProcess()
    with pytest.raises(AttributeError, match="not fitted yet"):
        gp.log_marginal_likelihood([0.0, 0.0, 0.0])
    gp.fit(S.deltas(np.arange(4.0)), np.zeros(4))
    with pytest.raises(ValueError, match="at most one of return_std and return_cov"):
        gp.predict(S.deltas(np.arange(2.0)), return_std=True, return_cov=True)
    with pytest.raises(ValueError, match=r"as many dimensions as in fit \(1\), got 2"):
        gp.predict([S.deltas(np.arange(2.0))] * 2)
    with pytest.raises(ValueError, match=r"one entry per free hyperparameter"):
        gp.log_marginal_likelihood([0.0, 0.0])
    with pytest.raises(TypeError, match=r"atoms must be a Space or a non-empty list of Spaces "
                                        r"\(one per dimension\), got ndarray"):
        gp.predict(np.arange(2.0))


def test_a_failed_fit_leaves_the_estimator_unfitted():
    gp = q.GaussianProcess(noise=0.0, noise_bounds="fixed", optimize=False)
    gp.fit(S.deltas(np.arange(3.0)), np.zeros(3))
    with pytest.raises(q.SingularError):
        gp.fit(S.deltas(np.array([0.0, 0.0])), np.zeros(2))
    with pytest.raises(AttributeError, match="not fitted yet"):
        gp.log_marginal_likelihood([])


def test_the_docstring_example_runs():
    import doctest

    test = doctest.DocTestParser().get_doctest(q.GaussianProcess.__doc__, {}, "gp", None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test, out=lambda text: pytest.fail(text, pytrace=False))
    assert runner.failures == 0 and runner.tries > 0
