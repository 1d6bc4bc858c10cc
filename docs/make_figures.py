#!/usr/bin/env python3
"""Makes the comparison pictures in docs/figures/ and the PSNR table in README.md.

Each picture starts from a grayscale image taken as the ground truth (HR),
keeps every other pixel of every other row, LR = HR[::2, ::2] (the input
Quillmorph's method assumes), doubles LR back to HR's size three ways, and
shows the same crop of each beside the ground truth, all at the same zoom:

  nearest neighbour  HR pixel (y, x) repeats LR pixel (y // 2, x // 2);
  bicubic            OpenCV's INTER_CUBIC, the cubic convolution (a = -0.75)
                     that cv2.resize uses, sampled where Quillmorph samples:
                     HR pixel (y, x) takes the cubic at LR position (y/2, x/2),
                     so that the LR pixels stay at the even positions and both
                     methods are measured on the same grid.  (cv2.resize lines
                     up pixel centres instead and samples (y/2 - 1/4,
                     x/2 - 1/4), a quarter pixel off; the pictures' page
                     gives its PSNR too.)  cv2.warpAffine applies it, borders
                     replicated, on float32 (exact here: every weight is a
                     multiple of 1/1024), rounded half to even;
  Quillmorph         the command-line tool of the project's build, on PGM files.

The PSNR is over every pixel of the whole image, in dB against 255.

    docs/make_figures.py [--build DIR]
        writes docs/figures/*.png, docs/figures/pixels.sha256 (a hash of each
        picture's pixels, which do not depend on the PNG encoder) and the
        table between the psnr-table markers of README.md.
    docs/make_figures.py --check [--build DIR]
        makes everything again in a scratch folder and fails when a picture's
        pixels or the README's table differ from what is committed.

DIR (default: build) holds Quillmorph and make_chart; --tool and --make-chart
name them one by one.  Needs numpy, Pillow, OpenCV and scikit-image's sample
images (Debian: python3-numpy python3-pil python3-opencv python3-skimage);
runs offline.
"""

import argparse
import hashlib
import importlib.util
import os
import subprocess
import sys
import tempfile

DOCS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(DOCS)
FIGURES = os.path.join(DOCS, "figures")
README = os.path.join(ROOT, "README.md")
HASHES = "pixels.sha256"
GALLERY = "README.md"
TABLE_BEGIN = "<!-- psnr-table: made by docs/make_figures.py, do not edit -->"
TABLE_END = "<!-- end of psnr-table -->"
MODULES = {"numpy": "python3-numpy", "PIL": "python3-pil", "cv2": "python3-opencv",
           "skimage": "python3-skimage"}

CROP = 64  # HR pixels a side of each crop
ZOOM = 4  # screen pixels a side of each HR pixel
GAP = 8  # between panels
LABEL_HEIGHT = 26
PANELS = ("nearest neighbour", "bicubic", "Quillmorph", "ground truth")
GALLERY_HEAD = f"""# Pictures

Made by [`docs/make_figures.py`](../make_figures.py), with the PSNR table
of the [README](../../README.md); do not edit by hand.  The photographs are
scikit-image's samples as Debian's python3-skimage ships them, read
offline; the chart is made by the project's own `make_chart`.

Each picture takes an image as the ground truth (HR), keeps every other
pixel of every other row (LR = HR[::2, ::2], the input Quillmorph's method
assumes), doubles LR again three ways and shows the same {CROP} x {CROP}
crop of each beside the ground truth, every pixel {ZOOM} x {ZOOM} on
screen:

- **nearest neighbour**: each LR pixel repeated 2 x 2;
- **bicubic**: OpenCV's `INTER_CUBIC`, the cubic convolution (a = -0.75)
  that `cv2.resize` uses, sampled on Quillmorph's grid: HR pixel (y, x)
  takes the cubic at LR position (y/2, x/2), so the LR pixels stay at the
  even positions in both (`cv2.resize` itself samples (y/2 - 1/4,
  x/2 - 1/4), a quarter pixel off: its PSNR is given below too);
- **Quillmorph**: the command-line tool of the project's build;
- **ground truth**: the HR image.

PSNR is over every pixel of the whole image, against 255.
"""
CHART_SIZE = 512


class Picture:
    """One source image: where it comes from, and the crop shown."""

    def __init__(self, name, title, source, crop_origin, credit):
        self.name = name  # the figure's file name, without .png
        self.title = title  # the row of the README's table
        self.source = source  # a file of scikit-image's samples, or "chart"
        self.crop_origin = crop_origin  # (y, x) of the crop in HR pixels
        self.credit = credit


PICTURES = [
    Picture("text", "Text: handwriting", "text.png", (48, 20),
            "scikit-image's `text` (Wikimedia Commons); public domain"),
    Picture("photograph", "Photograph", "camera.png", (132, 250),
            "scikit-image's `camera` (Lav Varshney); CC0"),
    Picture("retina", "Medical: retina", "microaneurysms.png", (20, 20),
            "scikit-image's `microaneurysms` (Andreas Maier); CC0"),
    Picture("chart", "Chart: lines and edges", "chart", (40, 296),
            "this project's `make_chart`"),
]


def missing_modules():
    return [package for module, package in MODULES.items()
            if importlib.util.find_spec(module) is None]


def sample_directory():
    found = importlib.util.find_spec("skimage")
    return os.path.join(list(found.submodule_search_locations)[0], "data")


def write_pgm(path, image):
    height, width = image.shape
    with open(path, "wb") as file:
        file.write(b"P5\n%d %d\n255\n" % (width, height))
        file.write(image.tobytes())


def read_pgm(path):
    import numpy
    with open(path, "rb") as file:
        magic, width, height, maxval = file.readline(), *file.readline().split(), file.readline()
        if magic.strip() != b"P5" or maxval.strip() != b"255":
            raise ValueError(f"{path} is not an 8-bit binary PGM")
        data = file.read()
    return numpy.frombuffer(data, numpy.uint8).reshape(int(height), int(width))


def ground_truth(picture, tools, scratch):
    """The HR image: gray, 8-bit, both sides even."""
    import numpy
    from PIL import Image
    if picture.source == "chart":
        path = os.path.join(scratch, "chart.pgm")
        subprocess.run([tools.make_chart, path, str(CHART_SIZE)], check=True,
                       stdout=subprocess.DEVNULL)
        image = read_pgm(path)
    else:
        path = os.path.join(sample_directory(), picture.source)
        # Colour would become ITU-R 601 luma; every sample used is gray already.
        image = numpy.asarray(Image.open(path).convert("L"))
    height, width = image.shape
    return numpy.ascontiguousarray(image[: height - height % 2, : width - width % 2])


def nearest(lr):
    return lr.repeat(2, axis=0).repeat(2, axis=1)


def bicubic(lr):
    import cv2
    import numpy
    height, width = lr.shape
    to_hr = numpy.float32([[2, 0, 0], [0, 2, 0]])  # LR (x, y) lies at HR (2x, 2y)
    hr = cv2.warpAffine(lr.astype(numpy.float32), to_hr, (2 * width, 2 * height),
                        flags=cv2.INTER_CUBIC, borderMode=cv2.BORDER_REPLICATE)
    return numpy.clip(numpy.rint(hr), 0, 255).astype(numpy.uint8)


def resized(lr):
    """cv2.resize's INTER_CUBIC, pixel centres lined up."""
    import cv2
    height, width = lr.shape
    return cv2.resize(lr, (2 * width, 2 * height), interpolation=cv2.INTER_CUBIC)


def quillmorph(lr, tools, scratch):
    lr_path = os.path.join(scratch, "lr.pgm")
    hr_path = os.path.join(scratch, "hr.pgm")
    write_pgm(lr_path, lr)
    subprocess.run([tools.quillmorph, lr_path, hr_path], check=True, stdout=subprocess.DEVNULL)
    return read_pgm(hr_path)


def psnr(image, truth):
    import numpy
    error = numpy.mean((image.astype(numpy.float64) - truth.astype(numpy.float64)) ** 2)
    return 10.0 * numpy.log10(255.0**2 / error)


def label(text, width):
    import cv2
    import numpy
    strip = numpy.full((LABEL_HEIGHT, width), 255, numpy.uint8)
    font, scale, thickness = cv2.FONT_HERSHEY_SIMPLEX, 0.6, 1
    (text_width, _), _ = cv2.getTextSize(text, font, scale, thickness)
    cv2.putText(strip, text, ((width - text_width) // 2, LABEL_HEIGHT - 8), font, scale, 0,
                thickness, cv2.LINE_AA)
    return strip


def figure(results, crop_origin):
    """The panels side by side, each the same crop zoomed, under its label."""
    import numpy
    y, x = crop_origin
    side = CROP * ZOOM
    columns = []
    for index, image in enumerate(results):
        crop = image[y : y + CROP, x : x + CROP]
        if crop.shape != (CROP, CROP):
            raise ValueError(f"the crop at {crop_origin} leaves the image of shape {image.shape}")
        panel = numpy.vstack([label(PANELS[index], side), crop.repeat(ZOOM, 0).repeat(ZOOM, 1)])
        if index > 0:
            columns.append(numpy.full((panel.shape[0], GAP), 255, numpy.uint8))
        columns.append(panel)
    return numpy.hstack(columns)


def pixel_hash(image):
    height, width = image.shape
    return hashlib.sha256(b"%d %d\n" % (width, height) + image.tobytes()).hexdigest()


def make(tools, out_dir):
    """Writes the pictures, their hash file and their page into out_dir;
    returns the README's table."""
    from PIL import Image
    rows = ["| image | source and licence | size | bicubic | Quillmorph | difference |",
            "|---|---|---|---|---|---|"]
    hashes = ["# SHA-256 of each picture's pixels (\"width height\\n\" and the 8-bit rows),",
              "# made by docs/make_figures.py with the pictures"]
    page = [GALLERY_HEAD]
    with tempfile.TemporaryDirectory() as scratch:
        for picture in PICTURES:
            truth = ground_truth(picture, tools, scratch)
            lr = truth[::2, ::2].copy()
            results = [nearest(lr), bicubic(lr), quillmorph(lr, tools, scratch), truth]
            # The grids line up: every method keeps the LR pixels where they were.
            for panel, result in zip(PANELS, results):
                if not (result[::2, ::2] == lr).all():
                    raise AssertionError(f"{panel} moves the LR pixels of {picture.name}")
            image = figure(results, picture.crop_origin)
            file_name = picture.name + ".png"
            Image.fromarray(image).save(os.path.join(out_dir, file_name), optimize=True)
            hashes.append(f"{pixel_hash(image)}  {file_name}")
            cubic, ours = psnr(results[1], truth), psnr(results[2], truth)
            height, width = truth.shape
            scores = f"{cubic:.2f} dB | {ours:.2f} dB | {ours - cubic:+.2f} dB"
            rows.append(f"| [{picture.title}](docs/figures/{file_name}) | {picture.credit} "
                        f"| {width} x {height} | {scores} |")
            y, x = picture.crop_origin
            unaligned = psnr(resized(lr), truth)
            page.append(f"## {picture.title}\n\n![{picture.title}: nearest neighbour, bicubic, "
                        f"Quillmorph, ground truth]({file_name})\n\n"
                        f"Source: {picture.credit}.  The crop: {CROP} x {CROP} pixels at row {y}, "
                        f"column {x} of {width} x {height}.  PSNR of the whole image: bicubic "
                        f"{cubic:.2f} dB, Quillmorph {ours:.2f} dB ({ours - cubic:+.2f} dB); "
                        f"`cv2.resize` as it comes {unaligned:.2f} dB.\n")
    with open(os.path.join(out_dir, HASHES), "w", encoding="utf-8") as file:
        file.write("\n".join(hashes) + "\n")
    with open(os.path.join(out_dir, GALLERY), "w", encoding="utf-8") as file:
        file.write("\n".join(page))
    return "\n".join(rows) + "\n"


def split_readme(text):
    """README.md as the text before the table, the table, and the text after."""
    begin, end = text.find(TABLE_BEGIN), text.find(TABLE_END)
    if begin < 0 or end < begin:
        raise ValueError(f"README.md lacks the lines {TABLE_BEGIN!r} and {TABLE_END!r}")
    begin += len(TABLE_BEGIN) + 1
    return text[:begin], text[begin:end], text[end:]


def read_hashes(path):
    hashes = {}
    with open(path, encoding="utf-8") as file:
        for line in file:
            if line.strip() and not line.startswith("#"):
                digest, name = line.split()
                hashes[name] = digest
    return hashes


def check(tools):
    """The differences between what is committed and what is made now."""
    import numpy
    from PIL import Image
    problems = []
    with tempfile.TemporaryDirectory() as out_dir:
        table = make(tools, out_dir)
        made = read_hashes(os.path.join(out_dir, HASHES))
        with open(os.path.join(out_dir, GALLERY), encoding="utf-8") as file:
            gallery = file.read()
    if not os.path.exists(os.path.join(FIGURES, GALLERY)):
        problems.append(f"docs/figures/{GALLERY} is missing")
    else:
        with open(os.path.join(FIGURES, GALLERY), encoding="utf-8") as file:
            if file.read() != gallery:
                problems.append(f"docs/figures/{GALLERY} differs from the page made now")
    committed = read_hashes(os.path.join(FIGURES, HASHES))
    for name in sorted(set(made) | set(committed)):
        if made.get(name) != committed.get(name):
            problems.append(f"docs/figures/{name}: its pixels are no longer what the script makes")
            continue
        path = os.path.join(FIGURES, name)
        if not os.path.exists(path):
            problems.append(f"docs/figures/{name} is missing")
        elif pixel_hash(numpy.asarray(Image.open(path).convert("L"))) != committed[name]:
            problems.append(f"docs/figures/{name} does not hold the pixels {HASHES} records")
    with open(README, encoding="utf-8") as file:
        _, readme_table, _ = split_readme(file.read())
    if readme_table != table:
        problems.append("README.md: the PSNR table differs from the one made now:\n" + table)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--check", action="store_true",
                        help="make everything in a scratch folder and compare")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"),
                        help="the build directory (default: build)")
    parser.add_argument("--tool", help="the Quillmorph program (default: in --build)")
    parser.add_argument("--make-chart", help="the make_chart program (default: in --build)")
    tools = parser.parse_args()
    tools.quillmorph = tools.tool or os.path.join(tools.build, "Quillmorph")
    tools.make_chart = tools.make_chart or os.path.join(tools.build, "make_chart")

    missing = missing_modules()
    if missing or not os.path.isdir(sample_directory()):
        message = f"needs {' '.join(missing or ['python3-skimage'])} (Debian packages)"
        if tools.check:
            print(f"Not checked: the pictures' check {message}")
            return 0
        print(f"make_figures.py {message}", file=sys.stderr)
        return 2
    for program in (tools.quillmorph, tools.make_chart):
        if not os.access(program, os.X_OK):
            print(f"make_figures.py: {program} is not built (cmake --build build)", file=sys.stderr)
            return 2

    if tools.check:
        problems = check(tools)
        for problem in problems:
            print(problem)
        if problems:
            print("Make them again with docs/make_figures.py and commit the result.")
            return 1
        print(f"{len(PICTURES)} pictures and the README's PSNR table are up to date")
        return 0

    os.makedirs(FIGURES, exist_ok=True)
    table = make(tools, FIGURES)
    with open(README, encoding="utf-8") as file:
        before, _, after = split_readme(file.read())
    with open(README, "w", encoding="utf-8") as file:
        file.write(before + table + after)
    print(table, end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
