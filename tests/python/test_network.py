# brevo.read, write and cascade against the converter and the joiner: the numbers of a
# file read equal the converter's text of it parsed here, bit for bit; broken files raise
# the reader's "file:line: rule"; a joined network equals the joiner's file.
import csv
import os
import subprocess

import numpy as np
import pytest

import brevo
from conftest import CHANNELS, TOOLS

TS2 = CHANNELS / "ts2"
REAL = ["c2m_IL14_WC/C2M__Z100_IL14_WC_BOR_H_L_H_THRU.s4p", "formats/LFCN-2352+_Plus25degC.s2p",
        "formats/PowerSI_example.S8P", "formats/delay_short.s1p", "formats/WireBond3Pairs.s12p"]


def manifest():
    if not (TS2 / "ts2.tsv").exists():
        return [pytest.param(None, None, marks=pytest.mark.skip(reason="no shared channels at %s" % CHANNELS))]
    rows = [(r["file"], r["lenient"]) for r in csv.DictReader(open(TS2 / "ts2.tsv"), delimiter="\t")]
    return rows + [("../" + f, "ok") for f in REAL]


def converted(path, tmp_path):
    """The file as the converter writes it (Version 1, RI, Hz), parsed here: f and s."""
    out = tmp_path / "c.txt"
    subprocess.run([str(TOOLS / "brevo-touchstone"), path, str(out)], check=True, capture_output=True)
    lines = [l.partition("!")[0] for l in open(out) if not l.startswith("#")]
    numbers = np.array(" ".join(lines).split(), dtype=float)
    n = int(os.path.splitext(path)[1][2:-1]) if path.lower().endswith("p") else 0
    n = n or round(np.sqrt((len(numbers) / brevo.read(path).points - 1) / 2))
    records = numbers.reshape(-1, 1 + 2 * n * n)
    s = np.empty((len(records), n, n), complex)
    s.real, s.imag = records[:, 1::2].reshape(s.shape), records[:, 2::2].reshape(s.shape)
    return records[:, 0], s.transpose(0, 2, 1) if n == 2 else s   # 2 ports: S11 S21 S12 S22


def same_bits(a, b):
    return a.shape == b.shape and np.array_equal(np.ascontiguousarray(a).view(np.uint64), np.ascontiguousarray(b).view(np.uint64))


@pytest.mark.parametrize("name,expected", manifest())
def test_read_is_the_converters_numbers_or_its_rule(name, expected, tmp_path):
    path = str(TS2 / name)
    if expected.startswith("error: line "):
        line, _, rule = expected[len("error: line "):].partition(": ")
        with pytest.raises(brevo.TouchstoneError) as e:
            brevo.read(path)
        assert net_version(path) == "1.x" or str(e.value) == "%s:%s: %s" % (path, line, rule)
        return
    try:
        net = brevo.read(path)
    except brevo.TouchstoneError as e:   # a 1.x file the long-standing reader finds no data in
        assert net_version(path) == "1.x" and "holds no network data" in str(e)
        return
    if any("will be misread" in w for w in net.warnings):
        assert net.version == "1.x" and "convert it first: brevo-touchstone " + path in net.warnings[0]
        return
    f, s = converted(path, tmp_path)
    assert same_bits(net.s, s)
    if net.version == "1.x":   # the long-standing reader scales a frequency once more, by the unit
        np.testing.assert_array_max_ulp(net.f, f, 1)
    else:
        assert same_bits(net.f, f)
    assert (net.ports, net.points, len(net)) == (s.shape[1], len(f), len(f))


def net_version(path):
    return "1.x" if open(path, errors="replace").read().lstrip().lower()[:9] != "[version]" else "2"


def test_write_is_the_converter_and_reads_back(lane, tmp_path):
    net = brevo.read("lane_thru.s4p")
    for options in (dict(), dict(version=2, format="DB", unit="GHz", R=75, matrix="upper")):
        words = ["%s=%s" % kv for kv in options.items()]
        subprocess.run([str(TOOLS / "brevo-touchstone"), "lane_thru.s4p", "c.s4p"] + words, check=True)
        brevo.write("p.s4p", net, **options)
        assert open("p.s4p").read() == open("c.s4p").read()
    brevo.write("p.s4p", net)
    assert same_bits(brevo.read("p.s4p").s, net.s)
    for bad, message in ((dict(format="XY"), "bad value in 'format=XY': format is RI, MA or DB"),
                         (dict(matrix="lower"), "matrix=upper and matrix=lower need version=2")):
        with pytest.raises(ValueError, match="^%s$" % message.replace("(", r"\(").replace(")", r"\)")):
            brevo.write("p.s4p", net, **bad)
    # A file that does not open is the system's error, named by its errno value.
    for call, error in ((lambda: brevo.read("no.s4p"), FileNotFoundError), (lambda: brevo.read("."), IsADirectoryError),
                        (lambda: brevo.write("no/p.s4p", net), FileNotFoundError)):
        with pytest.raises(error):
            call()
    own = brevo.Network(net.f, net.s, name="own.s4p")
    assert same_bits(own.s, net.s) and brevo.run("link.cf", thru=own).report == brevo.run("link.cf", thru=net).report.replace("lane_thru", "own")


def test_cascade_is_the_joiner(lane):
    thru = brevo.read("lane_thru.s4p")
    for ports in ("1 3 2 4", "1 0 2 0"):
        subprocess.run([str(TOOLS / "brevo-cascade"), "j.s4p", "lane_thru.s4p " + ports, "lane_next1.s4p " + ports],
                       check=True, capture_output=True)
        joined = brevo.cascade([(thru, ports), "lane_next1.s4p " + ports], name="j.s4p")
        assert same_bits(joined.s, brevo.read("j.s4p").s) and joined.comments == brevo.read("j.s4p").comments[1:]   # after "joined by brevo-cascade"
    with pytest.raises(brevo.TouchstoneError, match="^cannot read no.s4p: No such file or directory$"):
        brevo.cascade([thru, "no.s4p"])


@pytest.mark.parametrize("options", [[], ["version=2"], ["version=2", "order=21_12"],
                                     ["version=2", "format=MA", "unit=GHz", "R=75", "order=21_12"],
                                     ["version=2", "format=DB", "unit=kHz", "R=75"],
                                     ["version=2", "parameter=Z", "order=21_12"], ["version=2", "parameter=Y", "format=MA"]])
def test_every_layout_of_a_two_port_reads_as_the_same_arrays(options, tmp_path):
    """S12 is not S21: s[k, 1, 0] is S21 whatever the version, two-port order, parameter or reference."""
    net = brevo.Network([1e9, 2e9], [[[0.1, 0.9j], [0.3, 0.2 - 0.1j]]] * 2)
    brevo.write(str(tmp_path / "two.s2p"), net)
    subprocess.run([str(TOOLS / "brevo-touchstone"), str(tmp_path / "two.s2p"), str(tmp_path / "l.s2p")] + options, check=True)
    got = brevo.read(str(tmp_path / "l.s2p"))
    assert got.s[0, 1, 0] == pytest.approx(0.3, abs=1e-14) and got.s[0, 0, 1] == pytest.approx(0.9j, abs=1e-14)
    assert np.allclose(got.s, net.s, rtol=1e-13, atol=1e-15) and same_bits(got.f, net.f)


def test_to_skrf_agrees_with_skrf_reading_the_file(lane):
    skrf = pytest.importorskip("skrf", reason="scikit-rf is not installed (Debian: python3-scikit-rf)")
    brevo.write("two.s2p", brevo.Network([1e9, 2e9], [[[0.1, 0.9j], [0.3, 0.2]]] * 2), format="MA")   # S12 is not S21
    for name in ("lane_thru.s4p", "two.s2p"):
        ours, theirs = brevo.read(name).to_skrf(), skrf.Network(name)
        assert np.allclose(ours.f, theirs.f, rtol=1e-15) and np.allclose(ours.s, theirs.s, rtol=1e-12, atol=1e-15)


def test_no_leak_over_ten_thousand_reads(tmp_path):
    path = str(tmp_path / "small.s2p")
    brevo.write(path, brevo.Network([1e9, 2e9], [[[0.1, 0.9], [0.8, 0.2]]] * 2))

    def rss():
        return int(open("/proc/self/statm").read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    for _ in range(1000):
        brevo.read(path)
    before = rss()
    for _ in range(10000):
        net = brevo.read(path)
    assert net.s[0, 1, 0] == 0.8 and rss() - before < 1 << 20
