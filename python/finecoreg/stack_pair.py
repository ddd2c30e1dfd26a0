"""One pair of a stack, as a worker runs it, and the files that record it.

A pair runs in a staging directory of its own under OUTDIR/.staging: the
master and slave are linked there (the module writes its work files beside
the master, so the master's own directory is only ever read), the offset
parameter file is copied there, and the fit, the QA picture and the result
record (last) are written there. The staging directory then replaces
OUTDIR/<pair> by a rename, so a pair directory is either complete or absent.
"""

import dataclasses
import json
import os
import re
import shutil
import time
import uuid

from .files import write_atomically
from .result import Result
from .stack_dense import dense_complete, dense_pair

STAGING = ".staging"
RESULT_FILE = "result.json"
OFFSET_FILE = "pair.off"
FITTED_FILE = "pair_new.off"
QA_FILE = "qa.png"
LOG_FILE = "finecoreg.log"
RESAMPLED_FILE = "slave_resampled.slc"  # with slave_resampled.xml and slave_resampled.slc.mask
INTERFEROGRAM_DIR = "interferogram"
COHERENCE_FILE = "coherence.png"
COHERENCE_FIELDS = ("coherence_before", "coherence_after")
KILL_HOOK = "FINECOREG_STACK_TEST_KILL"  # test-only: the first attempt of this pair ends its process


class PairError(RuntimeError):
    """A pair that cannot be run; the message says why."""


@dataclasses.dataclass(frozen=True)
class PairTask:
    """Everything a worker needs to run one pair; plain data, so it travels to any worker."""

    name: str
    master: str
    slave: str
    outdir: str
    off_template: str = None
    coarse: tuple = None
    window: tuple = (64, 64)
    grid: tuple = (32, 32)
    snr_threshold: float = 7.0
    threads: int = 1  # threads measuring the pair's grid
    prepare_inputs: object = None  # callable(master, slave, workdir) -> (master, slave)
    resample: bool = False
    looks: tuple = (5, 5)
    dense: bool = False  # also the dense offset field (stack_dense)
    dense_window: tuple = (64, 64)
    dense_step: tuple = (16, 16)


def image_xml_path(image):
    """The image parameter file the co-registration run reads beside an image (the library's rule)."""
    from ._core import image_xml_path as named

    return named(image)


def _link_image(image, workdir, role):
    """Links image and its XML file into workdir as <role><ext> and <role>.xml."""
    extension = os.path.splitext(os.path.basename(image))[1] or ".slc"
    link = os.path.join(workdir, role + extension)
    os.symlink(os.path.abspath(image), link)
    os.symlink(os.path.abspath(image_xml_path(image)), image_xml_path(link))
    return link


def _import_image(image, workdir, role):
    """Imports a GDAL raster as workdir/import/<role>.slc with its XML file."""
    import finecoreg

    out_dir = os.path.join(workdir, "import")
    os.makedirs(out_dir, exist_ok=True)
    target = os.path.join(out_dir, role + ".slc")
    try:
        finecoreg.import_image(image, target)
    except finecoreg.Error as error:
        raise PairError(f"no image parameter file {image_xml_path(image)} beside {image}, and it "
                        f"cannot be imported as a raster: {error}") from None
    return target


def prepare_inputs(master, slave, workdir):
    """Default input hook: raw SLC images are linked, GDAL rasters imported.

    An image with its XML parameter file beside it is linked into workdir
    with that file; one without is taken for a raster GDAL reads and imported
    (band 1, whole raster) into workdir/import.
    """
    return tuple(_link_image(image, workdir, role) if os.path.isfile(image_xml_path(image))
                 else _import_image(image, workdir, role)
                 for image, role in ((master, "master"), (slave, "slave")))


_INITIAL = re.compile(rb"^(initial_(range|azimuth)_offset:)([ \t]*-?\d+)[ \t]*$", re.MULTILINE)


def coarse_offset_text(template, coarse):
    """The template's offset parameter text with its initial offsets set to coarse (range, azimuth)."""
    values = {b"range": coarse[0], b"azimuth": coarse[1]}
    found = set()

    def replace(match):
        found.add(match.group(2))
        value = b"%d" % values[match.group(2)]
        field = match.group(3)  # keeps the column of the layout when the value fits
        return match.group(1) + (value.rjust(len(field)) if len(value) < len(field) else b" " + value)

    text = _INITIAL.sub(replace, template)
    if found != set(values):
        raise PairError("the offset template lacks initial_range_offset or initial_azimuth_offset")
    return text


_LAYOUT_INTS = ("slc1_starting_range_pixel", "number_of_slc_range_pixels", "offset_estimation_starting_range",
                "offset_estimation_ending_range", "offset_estimation_range_samples",
                "offset_estimation_range_spacing", "offset_estimation_starting_azimuth",
                "offset_estimation_ending_azimuth", "offset_estimation_azimuth_samples",
                "offset_estimation_azimuth_spacing", "offset_estimation_window_width",
                "offset_estimation_window_height")
_LAYOUT_TAIL = ("slc1_starting_azimuth_line", "interferogram_azimuth_lines", "interferogram_width",
                "first_nonzero_range_pixel", "number_of_nonzero_range_pixels", "interferogram_range_looks",
                "interferogram_azimuth_looks")
_LAYOUT_SPACINGS = ("interferogram_range_pixel_spacing", "interferogram_azimuth_pixel_spacing",
                    "resampled_range_pixel_spacing", "resampled_azimuth_pixel_spacing")


def blank_offset_text(coarse):
    """An offset parameter file in the module's own layout holding only the coarse offset (range, azimuth)."""
    poly = "%12.5f" % 0.0 + " %12.4e" % 0.0 * 5
    lines = ["KIV4.0 Interferometric SAR Processor (ISP)", "Interferogram and Image Offset Parameter File", "",
             "%-36s%6d" % ("initial_range_offset:", coarse[0]), "%-36s%6d" % ("initial_azimuth_offset:", coarse[1])]
    lines += ["%-36s%6d" % (key + ":", 0) for key in _LAYOUT_INTS]
    lines += ["%-35s%10.2f" % ("offset_estimation_threshhold:", 0.0),
              "%-28s%s" % ("range_offset_polynomial:", poly), "%-28s%s" % ("azimuth_offset_polynomial:", poly)]
    lines += ["%-37s%6d" % (key + ":", 0) for key in _LAYOUT_TAIL]
    lines += ["%-37s%12.6f   m" % (key + ":", 0.0) for key in _LAYOUT_SPACINGS]
    lines += ["%-33s%15.5f   m" % ("resampled_starting_ground_range:", 0.0),
              "%-36s%6d" % ("resampled_pixels_per_line:", 0), "%-36s%6d" % ("resampled_number_of_lines:", 0), "", ""]
    return "\n".join(lines).encode()


def _write_offset_file(task, path):
    if task.off_template is None:
        text = blank_offset_text(task.coarse)
    else:
        with open(task.off_template, "rb") as stream:
            text = stream.read()
    if task.coarse is not None and task.off_template is not None:
        text = coarse_offset_text(text, task.coarse)
    write_atomically(path, lambda temporary: _write_bytes(temporary, text))


def _write_bytes(path, data):
    with open(path, "wb") as stream:
        stream.write(data)


def _save_record(directory, record):
    def write(path):
        with open(path, "w", encoding="utf-8") as stream:
            json.dump(record, stream)
            stream.write("\n")

    write_atomically(os.path.join(directory, RESULT_FILE), write)


def _staging_dir(outdir, name):
    """A fresh staging directory for this attempt, after removing those of earlier attempts."""
    root = os.path.join(outdir, STAGING)
    os.makedirs(root, exist_ok=True)
    for entry in os.listdir(root):
        if entry.startswith(name + "."):
            shutil.rmtree(os.path.join(root, entry), ignore_errors=True)
    workdir = os.path.join(root, f"{name}.{uuid.uuid4().hex[:12]}")
    os.mkdir(workdir)
    return workdir


def publish(outdir, name, record, workdir=None):
    """Makes workdir (holding everything else of the pair) OUTDIR/<name>, result record last."""
    if workdir is None:
        workdir = _staging_dir(outdir, name)
    _save_record(workdir, record)
    final = os.path.join(outdir, name)
    if os.path.lexists(final):
        old = f"{workdir}.old"
        os.replace(final, old)
        shutil.rmtree(old, ignore_errors=True)
    os.replace(workdir, final)
    return final


def failure_record(name, error, seconds=0.0):
    return {"pair": name, "status": "failed", "error": error, "seconds": seconds}


def _test_kill_first_attempt(task):
    if os.environ.get(KILL_HOOK) != task.name:
        return
    try:  # the marker makes only the first attempt die
        os.close(os.open(os.path.join(task.outdir, f".killed-{task.name}"), os.O_CREAT | os.O_EXCL))
    except FileExistsError:
        return
    os._exit(70)


def _relocated(result, workdir, final):
    record = result.to_dict()
    record["paths"] = {key: final + value[len(workdir):] if value.startswith(workdir) else value
                       for key, value in result.paths.items()}
    return record


def _resample_pair(task, master, slave, fitted, workdir):
    """Resamples the slave into workdir with the interferogram and the coherence picture; the figures."""
    from .coherence_plot import coherence_plot
    from .resample import interferogram, resample

    out = resample(master, slave, fitted, out=os.path.join(workdir, RESAMPLED_FILE), progress=None,
                   threads=task.threads)
    formed = interferogram(master, out["output"], tuple(task.looks), out_dir=os.path.join(workdir, INTERFEROGRAM_DIR),
                           progress=None)
    picture = coherence_plot(master, slave, fitted, os.path.join(workdir, COHERENCE_FILE), resampled=out["output"],
                             looks=tuple(task.looks))
    return {"coherence_before": picture["mean_before"], "coherence_after": formed["mean_coherence"],
            "looks": list(task.looks), "doppler_centroid": out["doppler_centroid"],
            "doppler_source": out["doppler_source"], "masked": out["masked"]}


def run_pair(task):
    """Runs one pair in its staging directory and publishes it; returns its result record (a dict)."""
    from .plot import qa_plot
    from .run import coregister

    done = completed_record(task.outdir, task.name, task.resample, task.dense)
    if done is not None:  # run again only because its worker died before the result was collected
        return done
    start = time.monotonic()
    workdir = _staging_dir(task.outdir, task.name)
    _test_kill_first_attempt(task)
    final = os.path.join(task.outdir, task.name)
    try:
        hook = task.prepare_inputs or prepare_inputs
        master, slave = hook(task.master, task.slave, workdir)
        off = os.path.join(workdir, OFFSET_FILE)
        _write_offset_file(task, off)
        result = coregister(master, slave, off, window=tuple(task.window), grid=tuple(task.grid),
                            snr_threshold=task.snr_threshold, progress=None, threads=task.threads,
                            log=os.path.join(workdir, LOG_FILE))
        qa_plot(result, os.path.join(workdir, QA_FILE))
        record = _relocated(result, workdir, final)
        if task.resample:
            record.update(_resample_pair(task, master, slave, result.paths["fitted_offset_par"], workdir))
        if task.dense:
            record.update(dense_pair(task, master, slave, result.paths["fitted_offset_par"], workdir))
        record.update(pair=task.name, status="ok", error="", seconds=time.monotonic() - start)
    except Exception as error:  # the pair fails alone, with its message; the stack goes on
        record = failure_record(task.name, str(error) or type(error).__name__, time.monotonic() - start)
    publish(task.outdir, task.name, record, workdir)
    return record


def completed_record(outdir, name, resample=False, dense=False):
    """The result record of a pair finished earlier (status ok, a loadable Result, its files present, with
    resample its resampled slave and coherence figures, with dense its offset field and figures), or None."""
    directory = os.path.join(outdir, name)
    try:
        with open(os.path.join(directory, RESULT_FILE), encoding="utf-8") as stream:
            record = json.load(stream)
        Result.from_dict(record)
    except (OSError, ValueError, TypeError, AttributeError):
        return None
    if record.get("status") != "ok":
        return None
    if not all(os.path.isfile(os.path.join(directory, f)) for f in (FITTED_FILE, QA_FILE)):
        return None
    if resample and not (all(key in record for key in COHERENCE_FIELDS)
                         and all(os.path.isfile(os.path.join(directory, f)) for f in (RESAMPLED_FILE, COHERENCE_FILE))):
        return None
    if dense and not dense_complete(directory, record):
        return None
    return record
