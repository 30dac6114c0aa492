# Type stubs of the brevo module (built from python/*.cpp), for editors and type checkers.
import os
from typing import Any, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

class TouchstoneError(ValueError):
    """A Touchstone file that breaks a rule of its format, or cannot be joined ("lane.ts:12: rule")."""

class Network:
    """An N-port network on K frequencies, S-parameters at 50 ohm; f and s are read-only."""
    f: npt.NDArray[np.float64]
    s: npt.NDArray[np.complex128]
    name: str
    ports: int
    points: int
    comments: list[str]
    version: str
    parameter: str
    references: list[float]
    conversions: list[str]
    how: str
    warnings: list[str]
    log: str
    def __init__(self, f: npt.ArrayLike, s: npt.ArrayLike, name: str = "network",
                 comments: Sequence[str] = ...) -> None: ...
    def to_skrf(self) -> Any: ...
    def __len__(self) -> int: ...

class RunError(RuntimeError):
    """A run given check=True that ended with a status other than 0 or gave a warning."""
    result: "Result"

_Path = Union[str, os.PathLike[str]]
_Ports = Union[str, Sequence[int]]
_Channel = Union[_Path, Network, Any, tuple[Union[_Path, Network, Any], _Ports]]   # Any: a scikit-rf Network

def read(path: str) -> Network: ...
def write(path: str, network: Network, version: int = 1, format: str = "RI", unit: str = "Hz",
          R: float = 50.0, matrix: str = "full") -> None: ...
def cascade(elements: Sequence[_Channel], name: str = "joined") -> Network: ...

class Result:
    """One run: status, report, log, record, figures with their units, waveforms."""
    status: int
    report: str
    log: str
    record: dict[str, Any] | None
    warnings: list[str]
    figures: dict[str, float | bool | None]
    aggressors: list[dict[str, Any]]
    skipped: list[dict[str, Any]]
    transfers: list[dict[str, Any]]
    # COM (com=PRESET), None without it: figures as NAME_unit floats, arrays as numpy arrays;
    # cases[k] holds pulse, responses, bathtub and eye_contour dicts of arrays.
    com: dict[str, Any] | None
    icn_mV: dict[str, float]
    short_time_s: npt.NDArray[np.float64]
    pulse: npt.NDArray[np.float64]
    dibit: npt.NDArray[np.float64]
    fit_pulse: npt.NDArray[np.float64]
    frequency_Hz: npt.NDArray[np.float64]
    thru: npt.NDArray[np.complex128]
    fit: npt.NDArray[np.complex128]
    ild: npt.NDArray[np.complex128]
    period_time_s: npt.NDArray[np.float64]
    period_pulse: npt.NDArray[np.float64]
    period_fit_pulse: npt.NDArray[np.float64]
    period_ild_pulse: npt.NDArray[np.float64]
    data_rate_Bd: float | None
    peak_signal_mV: float | None
    target_ber: float | None
    target_q: float | None
    tx_bandwidth_Hz: float | None
    rx_bandwidth_Hz: float | None
    nyquist_gain_dB: float | None
    peak_pulse: float | None
    peak_dibit: float | None
    base_eye_mV: float | None
    available_signal_mV: float | None
    implementation_noise_mV: float | None
    ild_noise_mV: float | None
    low_frequency_ild_Hz: float | None
    tx_reflection_noise_mV: float | None
    rx_reflection_noise_mV: float | None
    txrx_reflection_noise_mV: float | None
    channel_noise_mV: float | None
    total_icn_mV: float | None
    total_noise_mV: float | None
    signal_to_noise: float | None
    ber: float | None
    interference_tolerance_mV: float | None
    salz_signal_to_noise_dB: float | None
    flipped: bool | None

def run(*arguments: _Path, thru: _Channel | None = None,
        next: _Channel | list[_Channel] | None = None, fext: _Channel | list[_Channel] | None = None,
        check: bool = False,
        **settings: Union[str, int, float, os.PathLike[str], Sequence[float], Sequence[Sequence[float]]]) -> Result: ...
