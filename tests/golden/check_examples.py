#!/usr/bin/env python3
"""The figures of the golden example runs worked out once more from the example Touchstone
files and from the physics, without the program (plain Python). It prints what it finds
and checks it against nrz.report, pam4.report, nrz.log and the side-file excerpts, to the
digits they print; any difference fails it (exit status 1). ctest runs it.

  python3 tests/golden/check_examples.py
"""
import cmath, math, os, re, sys

here = os.path.dirname(os.path.abspath(__file__))
folder, golden = os.path.join(here, '../../examples'), here
rate = 25.78125e9


def read4(name):
    """4-port records as (f in Hz, 4x4 complex S, row by row)."""
    unit, form, values = 1e9, 'MA', []
    for line in open(folder + '/' + name):
        text = line.split('!')[0]
        if text.strip().startswith('#'):
            words = text.upper().split()
            unit = {'HZ': 1, 'KHZ': 1e3, 'MHZ': 1e6, 'GHZ': 1e9}[next(w for w in words if w.endswith('HZ'))]
            form = next(w for w in words if w in ('RI', 'MA', 'DB'))
            continue
        values += [float(w) for w in text.split()]
    records = []
    for at in range(0, len(values) - 32, 33):
        pairs = values[at + 1:at + 33]
        def entry(k):
            a, b = pairs[2 * k], pairs[2 * k + 1]
            if form == 'RI':
                return complex(a, b)
            return cmath.rect(a if form == 'MA' else 10 ** (a / 20), math.radians(b))
        records.append((values[at] * unit, [[entry(4 * r + c) for c in range(4)] for r in range(4)]))
    return records


def sdd21(S):   # input pair 1,3, output pair 2,4
    return 0.5 * (S[1][0] - S[1][2] - S[3][0] + S[3][2])


failures = []


def check(what, ours, golden, tolerance):
    """ours, worked out here, against the golden file's golden, within tolerance."""
    if not abs(ours - golden) <= tolerance:
        failures.append('%s: %.6g here, %.6g in the golden file (tolerance %.1g)' % (what, ours, golden, tolerance))


def figures(name):
    """A report's lines as {label: the last number on the line}."""
    out = {}
    for line in open(name):
        m = re.match(r'(.*?)\s+(-?[0-9.e+-]+)\s*(mV|dB|m)?\s*$', line)
        if m:
            out[m.group(1).strip()] = float(m.group(2))
    return out


thru = read4('lane_thru.s4p')
f = [r[0] for r in thru]
s = [sdd21(r[1]) for r in thru]

# Weighted least squares of ln Sdd21 (phase unwrapped) in 1, sqrt f, f, f^2, each point
# weighted with Sdd21, points above the receiver bandwidth 0.75 * rate left out; solved by
# modified Gram-Schmidt on unit-length columns.
y, w, prev = [], [], 0.0
for v in s:
    ln = cmath.log(v)
    ph = ln.imag + 2 * math.pi * round((prev - ln.imag) / (2 * math.pi))
    prev = ph
    y.append(complex(ln.real, ph))
keep = [i for i in range(len(f)) if f[i] <= 0.75 * rate]
cols = [[s[i] * g(f[i]) for i in keep] for g in (lambda x: 1, math.sqrt, lambda x: x, lambda x: x * x)]
rhs = [s[i] * y[i] for i in keep]
scale = [math.sqrt(sum(abs(z) ** 2 for z in c)) for c in cols]
q = [[z / sc for z in c] for c, sc in zip(cols, scale)]
R = [[0j] * 4 for _ in range(4)]
for j in range(4):
    for k in range(j):
        R[k][j] = sum(a.conjugate() * b for a, b in zip(q[k], q[j]))
        q[j] = [b - R[k][j] * a for a, b in zip(q[k], q[j])]
    R[j][j] = math.sqrt(sum(abs(z) ** 2 for z in q[j]))
    q[j] = [z / R[j][j] for z in q[j]]
qy = [sum(a.conjugate() * b for a, b in zip(q[k], rhs)) for k in range(4)]
a = [0j] * 4
for j in range(3, -1, -1):
    a[j] = (qy[j] - sum(R[j][k] * a[k] for k in range(j + 1, 4))) / R[j][j]
a = [a[j] / scale[j] for j in range(4)]
nrz_text = open(os.path.join(golden, 'nrz.report')).read()
reported = {m[0]: complex(float(m[1]), float(m[2]))
            for m in re.findall(r'^(a[0-4])=(\S+)\+j\((\S+)\)$', nrz_text, re.M)}
for name, v in zip(('a0', 'a1', 'a2', 'a4'), a):
    print('%s=%12.6e+j(%12.6e)' % (name, v.real, v.imag))
    check(name + ' (relative)', abs(v - reported[name]) / abs(v), 0, 2e-6)
fn = rate / 2
model = lambda x: a[0] + a[1] * math.sqrt(x) + a[2] * x + a[3] * x * x
nrz, pam4 = figures(os.path.join(golden, 'nrz.report')), figures(os.path.join(golden, 'pam4.report'))
print('Nyquist gain from the fit  %8.3f dB' % (20 / math.log(10) * model(fn).real))
check('Nyquist gain', 20 / math.log(10) * model(fn).real, nrz['Nyquist gain'], 0.0015)
k = max(i for i in range(len(f)) if f[i] <= fn)
t = (fn - f[k]) / (f[k + 1] - f[k])
print('|Sdd21| at Nyquist, linear between points  %8.3f dB' % (20 * math.log10((1 - t) * abs(s[k]) + t * abs(s[k + 1]))))

# Salz S/N: the average over 0 .. rate/2 of 10 log10(1 + |Sdd21|^2 / sum |Sxt|^2), each
# point standing for the interval below it.
xt = [0.0] * len(f)
for name in ('lane_next1.s4p', 'lane_next2.s4p', 'lane_fext1.s4p', 'lane_fext2.s4p'):
    for i, r in enumerate(read4(name)):
        xt[i] += abs(sdd21(r[1])) ** 2
total, last = f[0] * math.log10(1 + abs(s[0]) ** 2 / xt[0]), 0
for i in range(1, len(f)):
    if 2 * f[i] >= rate:
        break
    total += math.log10(1 + abs(s[i]) ** 2 / xt[i]) * (f[i] - f[i - 1])
    last = i
print('Salz S/N  %.3f dB' % (10 * total / f[last]))
check('Salz S/N', 10 * total / f[last], nrz['Salz S/N'], 0.0015)


def ber(q, pam):   # Gaussian tail at q, for pam levels
    return (pam - 1) / pam * math.erfc(q / math.sqrt(2))


def inverse(target, pam):   # q with ber(q) = target, by bisection
    lo, hi = 0.0, 40.0
    for _ in range(200):
        mid = (lo + hi) / 2
        lo, hi = (mid, hi) if ber(mid, pam) > target else (lo, mid)
    return lo


for run, pam, target in (('nrz', 2, 1e-12), ('pam4', 4, 1e-5)):
    r = figures(os.path.join(golden, run + '.report'))
    qt = inverse(target, pam)
    eye = 400 * r['peak dibit'] / 1000 * 0.85 / (pam - 1) - 10   # mV: PAM step, gain, slicer
    channel = math.sqrt(sum(r[k] ** 2 for k in ('ILD                 noise', 'Tx re-Reflection    noise',
                                                 'Rx re-Reflection    noise', 'Tx-Rx re-Reflection noise')))
    icn = math.sqrt(sum(v ** 2 for k, v in r.items() if k.startswith('lane_')))
    noise = math.sqrt(channel ** 2 + icn ** 2 + r['implementation noise'] ** 2)
    sn = eye / noise
    d = (eye / qt) ** 2 - noise ** 2
    tolerance = math.copysign(math.sqrt(abs(d)), d)
    print('%s: target Q %.3f, available signal %.3f mV, channel %.3f, ICN %.3f, total %.3f mV, '
          'S/N %.3f, BER %.2e (%.2e at the report\'s S/N), tolerance %.3f mV' % (
              run, qt, eye, channel, icn, noise, sn, ber(sn, pam), ber(r['S/N'], pam), tolerance))
    # From the report's own rounded terms: a few units in the last printed digit.
    for label, ours, tol in (('target Q       =', -qt, 0.0015), ('available signal', eye, 0.02),
                             ('total                                ICN', icn, 0.003),
                             ('total                             noise', noise, 0.003), ('S/N', sn, 0.004),
                             ('interference tolerance', tolerance, 0.02)):
        check(run + ' ' + ' '.join(label.split()), ours, r[label], tol)
    check(run + ' BER at the report\'s S/N (relative)', ber(r['S/N'], pam) / r['BER'], 1, 0.01)
for k in ('ILD                 noise', 'Tx re-Reflection    noise', 'implementation noise', 'total                             noise'):
    print('PAM-4 / NRZ %s: %.4f (sqrt(5/9) = %.4f)' % (k.split()[0], pam4[k] / nrz[k], math.sqrt(5 / 9)))
    check('PAM-4 / NRZ ' + k.split()[0], pam4[k] / nrz[k], math.sqrt(5 / 9), 0.002)
print('S/N PAM-4 / NRZ %.3f' % (pam4['S/N'] / nrz['S/N']))

# Pulse and dibit: the response to a 1 V pulse one UI long, through the channel and the
# second-order transmitter and fourth-order receiver (Butterworth magnitudes at 0.55 and
# 0.75 of the rate), summed over the file's points, each standing for f(k+1) - f(k-1) of
# the one-sided spectrum; the dibit is the pulse minus the pulse one UI later.
UI = 1 / rate
sinc = lambda x: 1.0 if x == 0 else math.sin(math.pi * x) / (math.pi * x)
butter = lambda x, order, corner: 1 / math.sqrt(1 + (x / corner) ** (2 * order))
shape = [sinc(x * UI) * butter(x, 4, 0.75 * rate) * butter(x, 2, 0.55 * rate) for x in f]
width = [f[k + 1] - f[k - 1] for k in range(1, len(f) - 1)]


def pulse(t):
    return UI * sum(width[k - 1] * (s[k] * shape[k] * cmath.exp(2j * math.pi * f[k] * t)).real
                    for k in range(1, len(f) - 1))


# The report gives each peak above the waveform's value 5 UI before the channel delay
# (the group delay -d(phase)/d(2 pi f) of the fitted line at 0.38 of the rate).
f38 = 0.38 * rate
delay = -(a[2].imag + 0.5 * a[1].imag / math.sqrt(f38) + 2 * a[3].imag * f38) / (2 * math.pi)
times = [delay + n * UI / 200 for n in range(-400, 800)]
p = [pulse(t) for t in times]
base = pulse(delay - 5 * UI)
print('group delay %.6e s; peak pulse %.3fm' % (delay, 1000 * (max(p) - base)))
print('peak dibit %.3fm' % (1000 * max(p[n] - p[n - 200] for n in range(200, len(p)))))
check('peak pulse', 1000 * (max(p) - base), nrz['peak pulse'], 0.003)
check('peak dibit', 1000 * max(p[n] - p[n - 200] for n in range(200, len(p))), nrz['peak dibit'], 0.003)

# Crosstalk at the receiver, each aggressor by itself: its power transfer times the same
# pulse spectrum (near-end transmitter corner at the rate itself), the first point standing
# for 2 f0, amplitudes 0.6 V (NEXT) and 0.4 V (FEXT), PAM level power 1 (NRZ).
for name, amplitude, corner in (('lane_next1.s4p', 0.6, rate), ('lane_next2.s4p', 0.6, rate),
                                ('lane_fext1.s4p', 0.4, 0.55 * rate), ('lane_fext2.s4p', 0.4, 0.55 * rate)):
    x = [sdd21(r[1]) for r in read4(name)]
    power = 0.0
    for k in range(len(f) - 1):
        w = 2 * f[0] if k == 0 else f[k + 1] - f[k - 1]
        g = sinc(f[k] * UI) * butter(f[k], 4, 0.75 * rate) * butter(f[k], 2, corner)
        power += abs(x[k] * g) ** 2 * w
    print('%s ICN %.3f mV' % (name, 1000 * amplitude * math.sqrt(power * UI)))
    check(name + ' ICN', 1000 * amplitude * math.sqrt(power * UI), nrz[name + '                       ICN'], 0.0015)

# The ripple of the thru around the fitted line, integrated against the same pulse
# spectrum with a 0.4 V transmitter: the insertion-loss deviation power before the DFE,
# which a run with N_DFE=0 reports as its ILD noise.
ild = sum(abs(s[k] - cmath.exp(model(f[k]))) ** 2 * shape[k] ** 2 * (2 * f[0] if k == 0 else f[k + 1] - f[k - 1])
          for k in range(len(f) - 1)) * 0.4 ** 2 * UI
print('ILD power %.6e V^2, %.3f mV' % (ild, 1000 * math.sqrt(ild)))
logged = float(re.search(r'^sigma AC ild  =\s*(\S+)$', open(os.path.join(golden, 'nrz.log')).read(), re.M).group(1))
check('ILD power before the DFE (relative)', ild / logged, 1, 2e-6)

# The side files' golden excerpts against the same sums: .wv1 rows (time, pulse, dibit,
# fitted pulse), .fd rows (f, 0, thru, fit, ILD, each complex).
fitted = [cmath.exp(model(x)) for x in f]


def fitPulse(t):
    return UI * sum(width[k - 1] * (fitted[k] * shape[k] * cmath.exp(2j * math.pi * f[k] * t)).real
                    for k in range(1, len(f) - 1))


worst = [0, 0, 0]
for line in open(golden + '/nrz_run.wv1').readlines()[2:]:
    t, pv, dv, fv = map(float, line.split())
    got = (pulse(t), pulse(t) - pulse(t - UI), fitPulse(t))
    worst = [max(w, abs(g - v)) for w, g, v in zip(worst, got, (pv, dv, fv))]
print('.wv1 excerpt: largest difference pulse %.1e, dibit %.1e, fitted pulse %.1e' % tuple(worst))
check('.wv1 excerpt, largest difference', max(worst), 0, 5e-6)
worst = [0, 0, 0]
for line in open(golden + '/nrz_run.fd').readlines()[3:]:
    v = list(map(float, line.split()))
    k = round(v[0] / 25e6) - 1
    want = (s[k], fitted[k], s[k] - fitted[k])
    worst = [max(w, abs(complex(v[2 + 2 * i], v[3 + 2 * i]) - want[i])) for i, w in enumerate(worst)]
print('.fd excerpt: largest difference thru %.1e, fit %.1e, ILD %.1e' % tuple(worst))
check('.fd excerpt, largest difference', max(worst), 0, 1e-6)
for failure in failures:
    print('FAIL: ' + failure)
sys.exit(1 if failures else 0)
