#!/usr/bin/python3
"""S/N, interference tolerance and ILD noise of the example lane against the DFE span.

Reads the lane's five files once, runs N_DFE = 0..16 UI at NRZ and PAM-4 (the settings
of nrz.cf and pam4.cf) in threads, and plots the figures against N_DFE (the lane's
crosstalk outweighs its ILD, so the span moves the S/N by under 1 %):

    PYTHONPATH=build/python python3 examples/sweep_dfe.py [picture.png]

(after `cmake --install`, no PYTHONPATH). The picture goes to doc/sweep_dfe.png unless
another name is given.
"""
import concurrent.futures
import os
import pathlib
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt

import brevo

here = pathlib.Path(__file__).resolve().parent
out = pathlib.Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else here.parent / "doc/sweep_dfe.png"
os.chdir(here)   # the channel names are those of the control files

thru = brevo.read("lane_thru.s4p")
nexts = [brevo.read("lane_next%d.s4p" % k) for k in (1, 2)]
fexts = [brevo.read("lane_fext%d.s4p" % k) for k in (1, 2)]
spans = range(17)
levels = {"NRZ": dict(PAM=2, target_BER=1e-12), "PAM-4": dict(PAM=4, target_BER=1e-5)}


def one(case):
    pam, n = case
    return brevo.run("link.cf", thru=(thru, "1 3 2 4"), next=nexts, fext=fexts, N_DFE=n, **levels[pam])


cases = [(pam, n) for pam in levels for n in spans]
with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
    results = dict(zip(cases, pool.map(one, cases)))
for case, r in results.items():
    if r.status != 0:
        sys.exit("%s N_DFE=%d: status %d\n%s" % (case[0], case[1], r.status, r.log))

fig, (snr, tolerance, ild) = plt.subplots(1, 3, figsize=(11, 3.6), constrained_layout=True)
for pam in levels:
    snr.plot(spans, [results[pam, n].signal_to_noise for n in spans], "o-", label=pam)
    tolerance.plot(spans, [results[pam, n].interference_tolerance_mV for n in spans], "o-", label=pam)
    ild.plot(spans, [results[pam, n].ild_noise_mV for n in spans], "o-", label=pam)
snr.set(xlabel="N_DFE (UI)", ylabel="S/N (amplitude ratio)", title="S/N")
tolerance.set(xlabel="N_DFE (UI)", ylabel="mV rms", title="interference tolerance")
ild.set(xlabel="N_DFE (UI)", ylabel="mV rms", title="ILD noise")
tolerance.axhline(0, color="gray", linewidth=0.8)
for ax in (snr, tolerance, ild):
    ax.grid(True, alpha=0.3)
    ax.legend()
fig.suptitle("Example lane, 25.78125 GBd, two NEXT and two FEXT aggressors")
fig.savefig(out, dpi=80)
for pam in levels:
    print("%-5s S/N %s" % (pam, " ".join("%.3f" % results[pam, n].signal_to_noise for n in spans)))
print("wrote", out)
