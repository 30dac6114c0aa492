# brevo.run against the program on the example lane: the same report, log and side
# files, figures the report's to its printed digits, waveforms the side files' to theirs;
# runs in threads on networks read once equal runs one at a time on the files.
import concurrent.futures
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import brevo
from conftest import CHANNELS, EXE

NUMBER = r"(-?nan|-?inf|-?[\d.]+(?:e[-+]\d+)?)"
# Report line (a pattern before the number), attribute, scale to the printed unit.
FIGURES = [("data rate +=", "data_rate_Bd", 1e-9), ("peak Signal +=", "peak_signal_mV", 1),
           ("targetBER +=", "target_ber", 1), ("target Q +=", "target_q", 1),
           ("Tx t bandwidth =", "tx_bandwidth_Hz", 1), ("Rx t bandwidth =", "rx_bandwidth_Hz", 1),
           ("Nyquist gain", "nyquist_gain_dB", 1), ("peak pulse", "peak_pulse", 1000),
           ("peak dibit", "peak_dibit", 1000), ("base EYE", "base_eye_mV", 1),
           ("available signal", "available_signal_mV", 1), ("implementation noise", "implementation_noise_mV", 1),
           ("ILD +noise", "ild_noise_mV", 1), ("Tx re-Reflection +noise", "tx_reflection_noise_mV", 1),
           ("Rx re-Reflection +noise", "rx_reflection_noise_mV", 1),
           ("Tx-Rx re-Reflection noise", "txrx_reflection_noise_mV", 1), ("Channel +noise", "channel_noise_mV", 1),
           ("total +ICN", "total_icn_mV", 1), ("total +noise", "total_noise_mV", 1), ("S/N", "signal_to_noise", 1),
           ("BER", "ber", 1), ("interference tolerance", "interference_tolerance_mV", 1),
           ("Salz S/N", "salz_signal_to_noise_dB", 1)]
# Side file, header lines, its row format, the result's columns.
SIDE = [(".wv1", 1, "%14.6e  %12.6f  %12.6f %12.6f \n", ("short_time_s", "pulse", "dibit", "fit_pulse")),
        (".fd", 2, "%14.6e 0  %14.6e %14.6e  %14.6e  %14.6e  %14.6e  %14.6e\n", ("frequency_Hz", "thru", "fit", "ild")),
        (".wv2", 1, "%14.6e  %14.6e  %14.6e  %14.6e\n",
         ("period_time_s", "period_pulse", "period_fit_pulse", "period_ild_pulse"))]


def as_printed(value, token):
    """value with the digits of the report's token, fixed or exponent as it is."""
    if not re.match(r"-?[\d.]", token):
        return "%f" % value
    digits = len(re.split(r"[eE]", token)[0].partition(".")[2])
    return ("%.*e" if "e" in token else "%.*f") % (digits, value)


@pytest.mark.parametrize("args,settings,status", [
    (["nrz.cf"], {}, 0), (["pam4.cf"], dict(N_DFE=0), 0),
    (["link.cf"], dict(Thru="lane_thru.s4p 13", FEXT="lane_fext1.s4p 1 3 2 4", PAM=4, target_BER=1e-5), 0),
    (["link.cf", "Thru=no_such_lane.s4p"], {}, 1)])
def test_run_is_the_program(lane, args, settings, status):
    words = args + ['%s="%s"' % kv if " " in str(kv[1]) else "%s=%r" % kv for kv in settings.items()]
    program = subprocess.run([EXE] + words + ["save_file=side.txt"], capture_output=True, text=True)
    r = brevo.run(*args, **settings, save_file="py.txt")
    assert program.returncode == r.status == status
    assert r.report == program.stdout
    assert r.log == program.stderr.replace("save_file=side.txt", "save_file=py.txt")
    lines = r.report.splitlines()
    for label, attribute, scale in FIGURES:
        line = [l for l in lines if re.match(label, l)]
        value = getattr(r, attribute)
        assert (value is None) == (not line), attribute
        if line:
            token = re.search(label + r"[^\d-]*" + NUMBER, line[0]).group(1)
            assert as_printed(value * scale, token) == token, line[0]
    for a in r.aggressors:
        token = re.search(re.escape(a["file"]) + r" +ICN +" + NUMBER, r.report).group(1)
        assert as_printed(a["icn_mV"], token) == token and r.icn_mV[a["file"]] == a["icn_mV"]
    if status == 0:
        assert r.flipped == ("FLIPPED:                                 yes" in lines)
    for suffix, header, row, columns in SIDE:
        written = os.path.exists("side" + suffix)
        assert written == os.path.exists("py" + suffix) == (len(getattr(r, columns[0])) > 0)
        if not written:
            continue
        text = open("side" + suffix).read()
        assert text == open("py" + suffix).read()
        parts = []
        for c in columns:
            a = getattr(r, c)
            parts += [a.real, a.imag] if np.iscomplexobj(a) else [a]
        assert "".join(text.splitlines(True)[header:]) == "".join(row % v for v in zip(*parts))


def test_threads_on_networks_read_once_equal_serial_runs(lane):
    files = sorted(os.listdir("."))
    thru, nexts = brevo.read("lane_thru.s4p"), [brevo.read("lane_next%d.s4p" % k) for k in (1, 2)]
    cases = [dict(N_DFE=n, PAM=p, target_BER=1e-12 if p == 2 else 1e-5) for n in (0, 4, 16) for p in (2, 4)]
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        threaded = list(pool.map(lambda c: brevo.run("link.cf", thru=(thru, "1 3 2 4"), next=nexts, **c), cases))
    for c, t in zip(cases, threaded):
        s = brevo.run("link.cf", thru="lane_thru.s4p 1 3 2 4", next=["lane_next1.s4p", "lane_next2.s4p"], **c)
        assert (t.status, t.report, t.log, t.record) == (s.status, s.report, s.log, s.record)
        assert all(np.array_equal(getattr(t, a), getattr(s, a)) for a in ("pulse", "ild", "period_ild_pulse"))
        assert [np.array_equal(x["transfer"], y["transfer"]) for x, y in zip(t.transfers, s.transfers)] == [True] * 2
    assert sorted(os.listdir(".")) == files   # nothing written
    assert threaded[0].ild_noise_mV != threaded[2].ild_noise_mV


# Settings refused before the run: the exception, and a word its message must hold.
@pytest.mark.parametrize("settings,error,said", [
    (dict(N_DEF=3), TypeError, "did you mean N_DFE"), (dict(baudrate="25G"), TypeError, "did you mean baud_rate"),
    (dict(N_DFE="fourteen"), ValueError, "N_DFE"), (dict(PAM=2.5), ValueError, "whole number"),
    (dict(input_ports="1z"), ValueError, "hexadecimal"), (dict(save_file=3), ValueError, "text"),
    (dict(target_BER=[1e-12]), ValueError, "number"), (dict(com_b_max_2_N_b=["high"]), ValueError, "list of numbers"),
    (dict(com_G_Qual=[[1, [2]]]), ValueError, "com_G_Qual")])
def test_bad_settings_raise_before_the_run(lane, settings, error, said):
    with pytest.raises(error, match=said):
        brevo.run("nrz.cf", summary="never.json", **settings)
    assert not os.path.exists("never.json")


# The same run however its paths and channels are given: os.PathLike, a control file
# named like the program's -c/-b/-? options, a scikit-rf Network; ICN by base name too.
def test_paths_names_and_networks_give_the_same_run(lane):
    import pathlib
    skrf = pytest.importorskip("skrf")
    base = brevo.run("link.cf", thru="lane_thru.s4p 1 3 2 4", next="lane_next1.s4p")
    os.mkdir("sub-board")
    with open("sub-board/my-cable.cf", "w") as f:
        f.write(open("link.cf").read())
    network = skrf.Network(os.path.abspath("lane_next1.s4p"))
    network.name = "lane_next1.s4p"
    for args, channels in [((pathlib.Path("link.cf"),), dict(thru=(pathlib.Path("lane_thru.s4p"), "1 3 2 4"), next=[pathlib.Path("lane_next1.s4p")])),
                           (("sub-board/my-cable.cf",), dict(thru="lane_thru.s4p 1 3 2 4", next="lane_next1.s4p")),
                           (("link.cf",), dict(thru="lane_thru.s4p 1 3 2 4", next=[network]))]:
        r = brevo.run(*args, **channels)
        assert (r.status, r.signal_to_noise) == (0, base.signal_to_noise), args
        assert r.icn_mV["lane_next1.s4p"] == base.icn_mV["lane_next1.s4p"]
    r = brevo.run("link.cf", thru="lane_thru.s4p 1 3 2 4", next=os.path.abspath("lane_next1.s4p"), save_file=pathlib.Path("kept"))
    assert r.icn_mV["lane_next1.s4p"] == r.icn_mV[os.path.abspath("lane_next1.s4p")] == base.icn_mV["lane_next1.s4p"]
    assert os.path.exists("kept.wv1")


def test_check_raises_on_failure_or_warning_and_help_lists_every_setting(lane):
    assert brevo.run("nrz.cf", check=True).status == 0
    for control, settings, status in [("link.cf", dict(Thru="no_such_lane.s4p"), 1), ("nrz.cf", dict(NEXT="no_such_next.s4p"), 0)]:
        with pytest.raises(brevo.RunError) as caught:
            brevo.run(control, check=True, **settings)
        assert caught.value.result.status == status and "no_such" in str(caught.value)
    doc = brevo.run.__doc__
    for keyword in brevo.run("nrz.cf").record["keywords"]:
        assert re.search(r"^    %s \(\w+\) = \S+ \[[^]]+\]" % keyword, doc, re.M), keyword
    assert "baud_rate (number) = 25.78125G [Bd]" in doc and "input_ports (hexadecimal) = 13 [" in doc
    assert "signal (number) = 400m [V peak]" in doc and "N_DFE (number) = 8.0 [UI]" in doc


COM_SET = str(CHANNELS / "com" / "example2_")
COM_CHANNELS = dict(thru=COM_SET + "THRU.s4p", fext=[COM_SET + "FEXT%d.s4p" % k for k in (1, 2)],
                    next=[COM_SET + "NEXT%d.s4p" % k for k in (1, 2, 3)])
# COM runs: settings as keywords (numbers and lists for com_ ones, as texts the same), the
# worst case's COM in dB, the verdict.
COM_RUNS = [(dict(com="kr4"), 3.65, "pass"),
            (dict(com="kr4", com_pass_threshold=4, com_b_max_2_N_b=[1] * 13), 3.65, "fail"),
            (dict(com="kr4", com_pass_threshold="4", com_b_max_2_N_b="1"), 3.65, "fail"),
            (dict(com="kr4", com_g_DC=-12, com_c_m1="-0.16", com_c_1=0), 3.65, "pass")]


def timeless(record):
    """The record but for the wall time of each COM case and the count of candidates its
    search evaluated in full (threads that share the best so far prune differently)."""
    for c in record["com"]["cases"]:
        c.pop("seconds"), c.pop("candidates")
    return record


def com_arrays(case):
    return [case["pulse"]["unequalised_mV"], case["pulse"]["equalised_mV"], case["responses"]["tx_ffe_dB"],
            case["responses"]["ctle_dB"], case["bathtub"]["probability"], case["eye_contour"]["upper_mV"]]


def test_com_in_threads_equals_serial_runs_and_its_arrays_agree_with_its_figures(lane):
    if not os.path.exists(COM_SET + "THRU.s4p"):
        pytest.skip("no calibration set at %s" % COM_SET)
    with concurrent.futures.ThreadPoolExecutor(3) as pool:
        threaded = list(pool.map(lambda r: brevo.run(**COM_CHANNELS, **r[0]), COM_RUNS))
    for (settings, worst, verdict), t in zip(COM_RUNS, threaded):
        s = brevo.run(**COM_CHANNELS, **settings)
        assert (t.status, t.report, timeless(t.record)) == (s.status, s.report, timeless(s.record)), settings
        assert t.com["verdict"] == verdict and abs(t.com["COM_dB"] - worst) < 0.1, settings
        for a, b in zip(t.com["cases"], s.com["cases"]):
            assert all(np.array_equal(x, y) for x, y in zip(com_arrays(a), com_arrays(b)))
        for c in t.com["cases"]:
            # The bathtub falls through DER0 at Ani; the pulse at the cursor is As; the Tx FFE
            # passes the sum of its taps at DC and the CTLE gDC; the contour at 0 is As - Ani.
            tub = c["bathtub"]
            assert tub["amplitude_mV"][tub["probability"] > tub["DER0"]].max() == pytest.approx(c["Ani_mV"], rel=1e-12)
            assert c["pulse"]["equalised_mV"][c["pulse"]["cursor_sample"]] == pytest.approx(c["As_mV"], rel=1e-12)
            assert c["responses"]["tx_ffe_dB"][0] == pytest.approx(20 * np.log10(c["tx_taps"].sum()), abs=1e-9)
            assert c["responses"]["ctle_dB"][0] == pytest.approx(c["gDC_dB"], abs=1e-9)
            assert c["gDC2_dB"] is None and c["responses"]["rx_ffe_dB"] is None
            eye = c["eye_contour"]
            assert eye["upper_mV"][eye["phase_ui"] == 0][0] == pytest.approx(c["As_mV"] - c["Ani_mV"], rel=1e-9)
    assert brevo.run("nrz.cf").com is None


def test_first_runs_of_a_process_in_threads_at_once_end(lane):
    """Results made in threads at once, the process's first arrays among them, come back."""
    script = ("import brevo, concurrent.futures as f\n"
              "with f.ThreadPoolExecutor(4) as p: print(sum(r.status == 0 for r in p.map(lambda _: brevo.run('nrz.cf'), range(4))))")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert done.stdout == "4\n", done.stderr


def test_com_releases_the_gil_all_through(lane):
    """Python goes on in another thread the whole time a COM run computes."""
    if not os.path.exists(COM_SET + "THRU.s4p"):
        pytest.skip("no calibration set at %s" % COM_SET)
    import time
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        start = last = time.perf_counter()
        running = pool.submit(brevo.run, **COM_CHANNELS, com="kr4")
        longest = 0
        while not running.done():   # the longest time this thread could not run
            now = time.perf_counter()
            longest, last = max(longest, now - last), now
        assert running.result().com["available"]
    # Held through the computation, the GIL would stop this thread for about the whole run.
    assert longest < 0.5 * (last - start), (longest, last - start)
