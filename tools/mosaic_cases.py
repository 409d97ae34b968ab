"""Writes captures whose Bayer order is known, to judge the mosaic detector by, with numpy and
ffmpeg and nothing of Kestro's.

  mosaic_cases.py FOLDER [--large] [--stress=none|some|all]

FOLDER receives the captures, beside each NAME.plane0.npy (the stored plane of its first frame,
as the RAW Y-channel picture shows it, top row first, in its stored values) and truth.json: per
file its kind, target, order (the top-left 2 x 2 sites of the RAW Y-channel picture, read row by
row; null where there is no mosaic), depth, container and what the capture was made with.

Kinds:
  mosaic         a colour sensor's raw data of a planet-like target, for each of the four orders
  mono           a monochrome sensor of the same targets: per-pixel gain pattern, column offsets
  decoded        decoded colour video: ffmpeg's testsrc2 and colour planet pictures, as yuv420p
                 and bgr24 AVIs
  balanced-grey  a grey object on a colour sensor after white balance: the order is the sensor's,
                 but the four sites agree
  stress         hard captures (entry "nature": mosaic, mono or decoded; "group" says which
                 hardship): white balanced, blue targets, faint, defects, clipping, tiny or cut
                 discs, green imbalance, steep gradients, strong mono fixed patterns, decoded video
                 in other stream formats. --stress=some (the default) writes one case per group
                 and order, --stress=all every target, order, container and depth of each group
                 (and the cases known to fail), --stress=none none.

Every random choice comes from a generator seeded by the case's name, so the same numpy writes the
same files on every machine. The SER headers state no order (colour id MONO): what the detector
says must come from the data.

An 8-bit AVI capture keeps its sensor plane in the first width x height bytes of each stored
sample, top row first, and that is the plane RAW Y-channel shows, top row on top, whatever the
stream's format: the Y plane of an I420 sample, or the first third of a bgr24 sample (which ffmpeg
stores top-down, with a negative height).
"""
import json
import os
import subprocess
import sys
import zlib

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from make_ser import COLOR_IDS, header  # noqa: E402  (the SER layout the reader's tests write)

ORDERS = ("RGGB", "GRBG", "GBRG", "BGGR")
TARGETS = ("jupiter", "saturn", "mars", "moon", "sun")
# (name, container, depth, stream format): every target in every order is written in each.
VARIANTS = (
    ("avi8-i420", "AVI", 8, "I420"),
    ("avi8-bgr24", "AVI", 8, "BGR24"),
    ("ser8", "SER", 8, None),
    ("ser12", "SER", 12, None),
    ("ser16", "SER", 16, None),
)
WIDTH, HEIGHT, FRAMES = 320, 240, 8
CHANNEL = {"R": 0, "G": 1, "B": 2}
# The AVI stream formats (the stream's FOURCC, or BGR24 and PAL8 for uncompressed DIBs) and the
# ffmpeg pixel formats that write them.
PIXEL_FORMATS = {"I420": "yuv420p", "BGR24": "bgr24", "Y800": "gray", "UYVY": "uyvy422", "YUY2": "yuyv422",
                 "PAL8": "pal8"}


def rng_for(name):
    return np.random.default_rng(zlib.crc32(name.encode()))


# ---------------------------------------------------------------------------------------------
# Targets: linear radiance pictures (rows x columns x RGB), about 1 at the brightest, drawn about
# a centre (cx, cy) in pixels so that they drift whole, texture and all. `p` holds what was
# chosen once per capture.


def soft_inside(r, edge=1.0):
    """1 inside a boundary at r = 1 (in units of the radius), 0 outside, anti-aliased over about
    `edge` of the same units."""
    return np.clip(0.5 - (r - 1.0) / edge, 0.0, 1.0)


def disc_coords(shape, cx, cy, radius, flattening=1.0, tilt=0.0):
    y, x = np.mgrid[0:shape[0], 0:shape[1]].astype(np.float64)
    dx, dy = x + 0.5 - cx, y + 0.5 - cy
    c, s = np.cos(tilt), np.sin(tilt)
    u = (c * dx + s * dy) / radius
    v = (-s * dx + c * dy) / (radius * flattening)
    return u, v


def waves(u, v, terms):
    """A smooth texture: a sum of sinusoids (amplitude, kx, ky, phase) in object coordinates."""
    out = np.zeros_like(u)
    for a, kx, ky, ph in terms:
        out += a * np.sin(kx * u + ky * v + ph)
    return out


def random_waves(rng, count, scale, amplitude):
    return [(amplitude * rng.uniform(0.3, 1.0), rng.normal(0, scale), rng.normal(0, scale), rng.uniform(0, 2 * np.pi))
            for _ in range(count)]


def mix(a, b, t):
    t = t[..., None]
    return np.asarray(a) * (1 - t) + np.asarray(b) * t


def jupiter(shape, cx, cy, p):
    r = p["radius"]
    u, v = disc_coords(shape, cx, cy, r, 0.935, p["tilt"])
    rr = np.sqrt(u * u + v * v)
    inside = soft_inside(rr, 1.0 / r)
    mu = np.sqrt(np.clip(1 - rr * rr, 0, 1))
    lat = v + 0.03 * waves(u, v, p["wobble"])
    belts = sum(a * np.exp(-((lat - c) / w) ** 2) for c, w, a in p["belts"])
    colour = mix((1.0, 0.93, 0.80), (0.80, 0.57, 0.40), np.clip(belts, 0, 1))
    spot = np.exp(-(((u - p["spot"][0]) / 0.16) ** 2 + ((v - p["spot"][1]) / 0.09) ** 2))
    colour = mix(colour, (0.95, 0.60, 0.45), spot)
    return colour * ((0.35 + 0.65 * mu ** p.get("limb_power", 0.6)) * inside)[..., None]


def saturn(shape, cx, cy, p):
    r = p["radius"]
    u, v = disc_coords(shape, cx, cy, r, 0.90, p["tilt"])
    rr = np.sqrt(u * u + v * v)
    disc = soft_inside(rr, 1.0 / r)
    mu = np.sqrt(np.clip(1 - rr * rr, 0, 1))
    belts = 0.5 * np.exp(-((v - 0.25) / 0.1) ** 2) + 0.4 * np.exp(-((v + 0.3) / 0.12) ** 2)
    body = mix((1.0, 0.88, 0.66), (0.85, 0.68, 0.48), belts) * (0.4 + 0.6 * mu ** 0.5)[..., None]
    # The rings in their own plane: distance from the centre in planet radii, seen at an opening
    # angle; the near half passes in front of the globe, the globe hides the far half.
    ru, rv = disc_coords(shape, cx, cy, r, 1.0, p["tilt"])
    rd = np.sqrt(ru * ru + (rv / np.sin(p["opening"])) ** 2)
    ring = np.zeros_like(rd)
    for inner, outer, level in ((1.24, 1.53, 0.2), (1.53, 1.95, 0.95), (2.03, 2.27, 0.7)):
        ring += level * np.clip(np.minimum(rd - inner, outer - rd) * r + 0.5, 0, 1)
    cover = np.clip(ring, 0, 1)[..., None]
    ring_light = ring[..., None] * np.array([0.98, 0.90, 0.75])
    globe = body * disc[..., None]
    in_front = ring_light + globe * (1 - cover)
    behind = globe + ring_light * (1 - disc)[..., None]
    return np.where((rv > 0)[..., None], in_front, behind)


def mars(shape, cx, cy, p):
    r = p["radius"]
    u, v = disc_coords(shape, cx, cy, r, 1.0, p["tilt"])
    rr = np.sqrt(u * u + v * v)
    inside = soft_inside(rr, 1.0 / r)
    mu = np.sqrt(np.clip(1 - rr * rr, 0, 1))
    dark = np.clip(0.5 + waves(u, v, p["albedo"]), 0, 1) ** 2
    colour = mix((1.0, 0.55, 0.33), (0.55, 0.30, 0.20), dark)
    cap = np.clip((-v - 0.75) * 8, 0, 1)
    colour = mix(colour, (1.0, 0.98, 0.95), cap)
    return colour * ((0.55 + 0.45 * mu) * inside)[..., None]


def moon(shape, cx, cy, p):
    r = p["radius"]
    u, v = disc_coords(shape, cx, cy, r, 1.0, 0.0)
    rr = np.sqrt(u * u + v * v)
    inside = soft_inside(rr, 1.0 / r)
    w = np.sqrt(np.clip(1 - rr * rr, 0, 1))
    # Lommel-Seeliger light: mu0 / (mu0 + mu), the Moon's nearly flat disc and its terminator.
    sun = p["sun"]
    mu0 = np.clip(u * sun[0] + v * sun[1] + w * sun[2], 0, 1)
    light = mu0 / (mu0 + w + 1e-6)
    maria = np.clip(0.5 + waves(u, v, p["maria"]), 0, 1)
    albedo = 1.0 - 0.4 * maria
    for cu, cv, cr, depth in p["craters"]:
        d2 = ((u - cu) ** 2 + (v - cv) ** 2) / (cr * cr)
        albedo = albedo * (1 - depth * np.exp(-d2 * 2)) + 0.6 * depth * np.exp(-((np.sqrt(d2) - 1.0) / 0.25) ** 2)
    colour = np.array(p["tint"])
    return colour * (2 * light * albedo * inside)[..., None]


def sun(shape, cx, cy, p):
    r = p["radius"]
    u, v = disc_coords(shape, cx, cy, r, 1.0, 0.0)
    rr = np.sqrt(u * u + v * v)
    inside = soft_inside(rr, 1.0 / r)
    mu = np.sqrt(np.clip(1 - rr * rr, 0, 1))
    granules = 1 + 0.03 * waves(u, v, p["granules"])
    spots = np.ones_like(u)
    for su, sv, sr in p["spots"]:
        d = np.sqrt((u - su) ** 2 + (v - sv) ** 2) / sr
        spots *= 1 - 0.3 * np.clip(1.6 - d, 0, 1) - 0.45 * np.clip(1.5 - 2 * d, 0, 1)
    # Limb darkening is deeper in blue than in red.
    limb = np.stack([1 - u_c * (1 - mu) for u_c in p.get("limb", (0.50, 0.60, 0.72))], axis=-1)
    return np.array(p["tint"]) * limb * (granules * spots * inside)[..., None]


def target_parameters(target, rng, shape, variant_index, overrides=None):
    s = min(shape)
    p = {"tilt": rng.uniform(-0.3, 0.3)}
    if target == "jupiter":
        p["radius"] = s * rng.uniform(0.26, 0.34)
        p["belts"] = [(c + rng.normal(0, 0.02), w, a) for c, w, a in
                      ((0.17, 0.08, 0.9), (-0.20, 0.09, 1.0), (0.42, 0.06, 0.5), (-0.45, 0.05, 0.4), (0.0, 0.05, 0.2))]
        p["wobble"] = random_waves(rng, 6, 12, 0.6)
        p["spot"] = (rng.uniform(-0.5, 0.5), -0.33)
    elif target == "saturn":
        p["radius"] = s * rng.uniform(0.15, 0.19)
        p["opening"] = rng.uniform(0.25, 0.45)
    elif target == "mars":
        p["radius"] = s * rng.uniform(0.07, 0.11)
        p["albedo"] = random_waves(rng, 8, 6, 0.25)
    elif target == "moon":
        p["tint"] = (1.0, rng.uniform(0.95, 0.98), rng.uniform(0.88, 0.93))
        p["maria"] = random_waves(rng, 8, 5, 0.3)
        if variant_index % 2 == 0:
            # A crescent, whole in the frame.
            p["radius"] = s * rng.uniform(0.38, 0.44)
            phase = rng.uniform(1.6, 2.0)
            side = rng.choice([-1.0, 1.0])
            p["sun"] = (side * np.sin(phase), 0.0, np.cos(phase))
            p["centre"] = (0.5 - side * 0.12, 0.5)
        else:
            # A gibbous Moon's limb cut by the frame: the centre lies outside it.
            p["radius"] = s * rng.uniform(1.4, 1.8)
            angle = rng.uniform(0, 2 * np.pi)
            p["sun"] = (0.3 * np.cos(angle), 0.3 * np.sin(angle), np.sqrt(1 - 0.09))
            reach = p["radius"] * 0.8 / s
            p["centre"] = (0.5 + reach * np.cos(angle) * s / shape[1], 0.5 + reach * np.sin(angle) * s / shape[0])
    elif target == "sun":
        p["radius"] = s * rng.uniform(0.55, 0.65)
        p["tint"] = (1.0, rng.uniform(0.94, 0.98), rng.uniform(0.86, 0.93))
        p["granules"] = random_waves(rng, 16, 60, 0.5)
        p["spots"] = [(rng.uniform(-0.6, 0.6), rng.uniform(-0.6, 0.6), rng.uniform(0.02, 0.05)) for _ in range(4)]
    elif target in ("uranus", "neptune"):
        p["radius"] = s * rng.uniform(0.04, 0.06)
        p["tint"] = {"uranus": (0.62, 0.88, 1.0), "neptune": (0.36, 0.58, 1.0)}[target]
    # What a case asks for in place of the draws above (the draws are made all the same, so
    # that the rest of the case's random stream does not move).
    p.update(overrides or {})
    p.setdefault("centre", (0.5 + rng.uniform(-0.05, 0.05), 0.5 + rng.uniform(-0.05, 0.05)))
    if target == "moon":
        # Craters of 3 to 20 pixels scattered over the part of the disc in view, in the disc's
        # own coordinates so that they drift with it.
        cx, cy = p["centre"][0] * shape[1], p["centre"][1] * shape[0]
        p["craters"] = [((rng.uniform(-20, shape[1] + 20) - cx) / p["radius"],
                         (rng.uniform(-20, shape[0] + 20) - cy) / p["radius"],
                         rng.uniform(3, 20) / p["radius"], rng.uniform(0.2, 0.5)) for _ in range(50)]
    return p


def ice_giant(shape, cx, cy, p):
    """Uranus or Neptune: a small featureless disc, cyan or blue, darkened towards the limb."""
    r = p["radius"]
    u, v = disc_coords(shape, cx, cy, r, 0.98, p["tilt"])
    rr = np.sqrt(u * u + v * v)
    mu = np.sqrt(np.clip(1 - rr * rr, 0, 1))
    return np.array(p["tint"]) * ((0.3 + 0.7 * mu) * soft_inside(rr, 1.0 / r))[..., None]


DRAW = {"jupiter": jupiter, "saturn": saturn, "mars": mars, "moon": moon, "sun": sun, "uranus": ice_giant,
        "neptune": ice_giant}


def smooth_size(n):
    """The least size from n up whose only factors are 2, 3 and 5, which the FFT takes fastest."""
    while True:
        m = n
        for f in (2, 3, 5):
            while m % f == 0:
                m //= f
        if m == 1:
            return n
        n += 1


def scene_frames(target, rng, shape, frames, variant_index, overrides=None):
    """The target's radiance per frame: drifting a few pixels along a line over the capture, with
    a little jitter, and blurred by seeing that changes from frame to frame. The target is drawn
    once; each frame shifts and blurs it in the Fourier domain, its edges extended first so that
    a disc cut by the frame does not wrap round to the other side."""
    p = target_parameters(target, rng, shape, variant_index, overrides)
    drift = rng.uniform(2, 6)
    heading = rng.uniform(0, 2 * np.pi)
    margins = [((size - n) // 2, size - n - (size - n) // 2) for n, size in
               ((n, smooth_size(n + 32)) for n in shape)]
    picture = np.pad(DRAW[target](shape, p["centre"][0] * shape[1], p["centre"][1] * shape[0], p),
                     margins + [(0, 0)], mode="edge")
    spectrum = np.fft.rfft2(picture, axes=(0, 1))
    fy = np.fft.fftfreq(picture.shape[0])[:, None]
    fx = np.fft.rfftfreq(picture.shape[1])[None, :]
    out = []
    for i in range(frames):
        t = i / max(frames - 1, 1) - 0.5
        dx = drift * t * np.cos(heading) + rng.normal(0, 0.3)
        dy = drift * t * np.sin(heading) + rng.normal(0, 0.3)
        sigma = rng.uniform(0.7, 2.2)
        transfer = np.exp(-2 * np.pi ** 2 * sigma ** 2 * (fx * fx + fy * fy) - 2j * np.pi * (fx * dx + fy * dy))
        moved = np.fft.irfft2(spectrum * transfer[..., None], s=picture.shape[:2], axes=(0, 1))
        (top, _), (left, _) = margins
        out.append(np.clip(moved[top:top + shape[0], left:left + shape[1]], 0, None))
    return out, drift


# ---------------------------------------------------------------------------------------------
# Sensors


def site_masks(order, shape):
    """Per colour (R, G, B) the sites of the mosaic whose top-left 2 x 2 block reads `order` row by
    row; green split into the top row's green (Gr/Gb) so that an imbalance can be applied."""
    h, w = shape
    index = np.zeros(shape, np.int64)
    first_green = np.zeros(shape, bool)
    seen_green = False
    for dy in range(2):
        for dx in range(2):
            colour = order[2 * dy + dx]
            index[dy::2, dx::2] = CHANNEL[colour]
            if colour == "G" and not seen_green:
                first_green[dy::2, dx::2] = True
                seen_green = True
    return index, first_green


class Sensor:
    """Exposure, black level and noise of one capture at its depth: signal is in data numbers
    (DN) above the black level, turned into electrons for shot noise."""

    def __init__(self, rng, depth):
        self.rng = rng
        self.depth = depth
        self.top = (1 << depth) - 1
        self.black = {8: rng.uniform(4, 16), 12: rng.uniform(64, 256), 16: rng.uniform(1024, 4096)}[depth]
        full_well = rng.uniform(4000, 15000)  # electrons at full scale: the camera's gain setting
        self.electrons_per_dn = full_well / self.top
        self.read_noise = rng.uniform(2, 5) / self.electrons_per_dn
        self.peak = rng.uniform(0.55, 0.85) * (self.top - self.black)

    def expose(self, signal):
        """signal: expected DN above black (any shape, >= 0). Shot and read noise, black level,
        clipping and whole numbers."""
        electrons = self.rng.poisson(np.clip(signal, 0, None) * self.electrons_per_dn)
        dn = electrons / self.electrons_per_dn + self.rng.normal(0, self.read_noise, signal.shape) + self.black
        return np.clip(np.rint(dn), 0, self.top).astype(np.int64)


def raw_gains(rng):
    """A colour sensor's raw response relative to green, as raw data show: green highest."""
    return np.array([rng.uniform(0.5, 0.6), 1.0, rng.uniform(0.35, 0.5)])


def mosaic_planes(frames, order, gains, sensor, green_ratio, sky):
    index, first_green = site_masks(order, frames[0].shape[:2])
    gain_map = gains[index] * np.where(first_green, green_ratio, 1.0)
    scale = sensor.peak / max(float(np.max(frames[0][..., 1])), 1e-9)
    planes = []
    for picture in frames:
        radiance = np.take_along_axis(picture, index[..., None], axis=-1)[..., 0]
        planes.append(sensor.expose((radiance + sky) * gain_map * scale))
    return planes


# ---------------------------------------------------------------------------------------------
# Writers


def write_ser(path, planes, depth):
    data = np.stack(planes)
    frames, height, width = data.shape
    with open(path, "wb") as out:
        out.write(header(COLOR_IDS["MONO"], width, height, depth, frames))
        out.write(data.astype("<u2" if depth > 8 else "u1").tobytes())


def ffmpeg(args, data):
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y"] + args, input=data, check=True)


def write_avi(path, planes, stream):
    """An 8-bit plane per frame in the first width x height bytes of each stored sample: the Y
    plane of an I420 sample with grey chroma, or the head of a bgr24 sample whose rest is zero.
    ffmpeg copies the samples as given (rawvideo in, rawvideo out, same pixel format)."""
    height, width = planes[0].shape
    chunks = []
    for plane in planes:
        if stream == "I420":
            sample = np.full(width * height * 3 // 2, 128, np.uint8)
        elif stream == "Y800":
            sample = np.zeros(width * height, np.uint8)
        else:
            sample = np.zeros(width * height * 3, np.uint8)
        sample[:width * height] = plane.astype(np.uint8).ravel()
        chunks.append(sample.tobytes())
    pix = PIXEL_FORMATS[stream]
    ffmpeg(["-f", "rawvideo", "-pix_fmt", pix, "-s", "%dx%d" % (width, height), "-r", "25", "-i", "-",
            "-c:v", "rawvideo", "-pix_fmt", pix, path], b"".join(chunks))


class Cases:
    def __init__(self, folder):
        self.folder = folder
        self.truth = {}

    def add(self, name, planes, container, depth, stream, entry):
        ext = ".ser" if container == "SER" else ".avi"
        path = os.path.join(self.folder, name + ext)
        if container == "SER":
            write_ser(path, planes, depth)
        else:
            write_avi(path, planes, stream)
        np.save(os.path.join(self.folder, name + ".plane0.npy"),
                planes[0].astype(np.uint16 if depth > 8 else np.uint8))
        height, width = planes[0].shape
        entry.update(container=container, depth=depth, stream=stream, width=width, height=height, frames=len(planes))
        self.truth[name + ext] = entry

    def add_decoded(self, name, args, entry):
        """A decoded colour video that ffmpeg writes itself; its plane is the stored sample's
        head as ffmpeg read it back."""
        path = os.path.join(self.folder, name + ".avi")
        ffmpeg(args + [path], None)
        probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                "stream=width,height,nb_frames", "-of", "json", path],
                               capture_output=True, check=True, text=True)
        info = json.loads(probe.stdout)["streams"][0]
        width, height = int(info["width"]), int(info["height"])
        pix = PIXEL_FORMATS[entry["stream"]]
        raw = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-i", path, "-frames:v", "1", "-f", "rawvideo",
                              "-pix_fmt", pix, "-"], capture_output=True, check=True).stdout
        plane = np.frombuffer(raw[:width * height], np.uint8).reshape(height, width)
        np.save(os.path.join(self.folder, name + ".plane0.npy"), plane)
        entry.update(container="AVI", depth=8, width=width, height=height, frames=int(info["nb_frames"]))
        if entry["stream"] == "PAL8":
            entry["raw_y"] = False  # its frames decode to 8 bits: RAW Y-channel cannot show them
        self.truth[name + ".avi"] = entry

    def save(self):
        with open(os.path.join(self.folder, "truth.json"), "w") as out:
            json.dump(self.truth, out, indent=1, sort_keys=True)


def mosaic_cases(cases, shape, frames, variants, targets=TARGETS, orders=ORDERS, suffix=""):
    for vi, (variant, container, depth, stream) in enumerate(variants):
        for target in targets:
            for oi, order in enumerate(orders):
                name = "%s-%s-%s%s" % (target, order, variant, suffix)
                rng = rng_for(name)
                pictures, drift = scene_frames(target, rng, shape, frames, vi + oi)
                gains = raw_gains(rng)
                green_ratio = rng.uniform(0.98, 1.02) if rng.random() < 0.5 else 1.0
                sensor = Sensor(rng, depth)
                sky = rng.uniform(0.0, 0.01)
                planes = mosaic_planes(pictures, order, gains, sensor, green_ratio, sky)
                cases.add(name, planes, container, depth, stream,
                          dict(kind="mosaic", target=target, order=order, gains=[round(g, 3) for g in gains],
                               green_ratio=round(green_ratio, 4), black=round(sensor.black, 1),
                               drift=round(drift, 2)))


def mono_cases(cases, shape, frames):
    """A monochrome sensor: the target's light through no filter, a fixed per-pixel gain pattern
    and odd columns read a little higher than even ones."""
    for vi, (variant, container, depth, stream) in enumerate(VARIANTS):
        for target in TARGETS:
            name = "mono-%s-%s" % (target, variant)
            rng = rng_for(name)
            pictures, drift = scene_frames(target, rng, shape, frames, vi)
            sensor = Sensor(rng, depth)
            prnu = 1 + rng.normal(0, 0.01, shape)
            columns = np.zeros(shape)
            columns[:, 1::2] = rng.uniform(0.6, 1.5) * (sensor.top + 1) / 256
            luminance = [pic @ np.array([0.3, 0.59, 0.11]) for pic in pictures]
            scale = sensor.peak / max(float(luminance[0].max()), 1e-9)
            planes = [np.clip(sensor.expose(lum * prnu * scale) + np.rint(columns).astype(np.int64), 0, sensor.top)
                      for lum in luminance]
            cases.add(name, planes, container, depth, stream,
                      dict(kind="mono", target=target, order=None, black=round(sensor.black, 1), drift=round(drift, 2)))


def balanced_grey_cases(cases, shape, frames):
    """A grey object on a colour sensor, its red and blue sites multiplied up to green's level as
    a white balance does: the levels agree, the noise stays larger where the gain was raised."""
    variants = [VARIANTS[0], VARIANTS[3]]
    for vi, (variant, container, depth, stream) in enumerate(variants):
        for target in ("moon", "sun"):
            for oi, order in enumerate(ORDERS):
                name = "balanced-%s-%s-%s" % (target, order, variant)
                rng = rng_for(name)
                pictures, drift = scene_frames(target, rng, shape, frames, vi + oi)
                grey = [np.repeat(pic.mean(axis=-1, keepdims=True), 3, axis=-1) for pic in pictures]
                gains = raw_gains(rng)
                sensor = Sensor(rng, depth)
                raw = mosaic_planes(grey, order, gains, sensor, 1.0, 0.0)
                index, _ = site_masks(order, shape)
                balance = (1.0 / gains)[index]
                planes = [np.clip(np.rint((p - sensor.black) * balance + sensor.black), 0, sensor.top).astype(np.int64)
                          for p in raw]
                cases.add(name, planes, container, depth, stream,
                          dict(kind="balanced-grey", target=target, order=order, gains=[round(g, 3) for g in gains],
                               drift=round(drift, 2)))


def decoded_cases(cases, shape, frames):
    """Colour video as a decoder delivers it: ffmpeg's test pattern, and colour pictures of the
    targets (as a stacking program's output would be), each as a yuv420p and as a bgr24 AVI."""
    for w, h in ((320, 240), (400, 300)):
        for stream, pix in (("I420", "yuv420p"), ("BGR24", "bgr24")):
            name = "decoded-testsrc2-%dx%d-%s" % (w, h, pix)
            cases.add_decoded(name, ["-f", "lavfi", "-i", "testsrc2=size=%dx%d:rate=25" % (w, h), "-frames:v",
                                     str(frames), "-c:v", "rawvideo", "-pix_fmt", pix],
                              dict(kind="decoded", target="testsrc2", order=None, stream=stream))
    for target in TARGETS:
        for stream, pix in (("I420", "yuv420p"), ("BGR24", "bgr24")):
            name = "decoded-%s-%s" % (target, pix)
            rng = rng_for(name)
            pictures, _ = scene_frames(target, rng, shape, frames, 0)
            top = max(float(pictures[0].max()), 1e-9)
            rgb = b"".join(np.clip(np.rint(pic / top * 230), 0, 255).astype(np.uint8).tobytes() for pic in pictures)
            path = os.path.join(cases.folder, name + ".rgb")
            with open(path, "wb") as out:
                out.write(rgb)
            cases.add_decoded(name, ["-f", "rawvideo", "-pix_fmt", "rgb24", "-s", "%dx%d" % (shape[1], shape[0]),
                                     "-r", "25", "-i", path, "-c:v", "rawvideo", "-pix_fmt", pix],
                              dict(kind="decoded", target=target, order=None, stream=stream))
            os.remove(path)


# ---------------------------------------------------------------------------------------------
# Stress cases: captures near or past what the detector can tell. Of them only two things are
# required (never sure and wrong; a monochrome sensor or decoded video never a mosaic); how often
# they are told right is reported for information.

AVI_GRAY = ("avi8-gray", "AVI", 8, "Y800")
V = {v[0]: v for v in VARIANTS + (AVI_GRAY,)}
EIGHT = (V["avi8-i420"], AVI_GRAY, V["ser8"], V["avi8-bgr24"])
DEEP = (V["ser12"], V["ser16"])
MIXED = (V["avi8-i420"], V["ser12"], AVI_GRAY, V["ser16"], V["ser8"])


def blue_sensitive_gains(rng):
    """Raw gains of a sensor whose blue is about as sensitive as its red, or more."""
    return np.array([rng.uniform(0.42, 0.55), 1.0, rng.uniform(0.50, 0.72)])


def balanced(red, blue):
    """An in-camera white balance: the raw red and blue multiplied by red/gain and blue/gain, so
    that a white object comes out red : 1 : blue."""
    return lambda gains: np.array([red / gains[0], 1.0, blue / gains[2]])


def faint(fraction, full_well, read_noise):
    """Peak at a few percent of the range at a high gain setting: few electrons, strong noise."""
    return dict(peak=fraction, full_well=full_well, read_noise=read_noise)


def hot_and_stuck(rng, shape, top):
    """Hot pixels (0.2% of the sites, the same ones in every frame, at 30-100% of the range) and
    three stuck columns: one at full scale, one at half, one at zero."""
    hot = rng.random(shape) < 0.002
    hot_values = np.rint(rng.uniform(0.3, 1.0, shape) * top).astype(np.int64)
    columns = rng.choice(shape[1], 3, replace=False)

    def apply(plane):
        plane = np.where(hot, hot_values, plane)
        for c, level in zip(columns, (top, top // 2, 0)):
            plane[:, c] = level
        return plane
    return apply, dict(hot_sites=int(hot.sum()), stuck_columns=[int(c) for c in columns])


def terminator_sun(angle):
    """The Sun's direction for a Moon just past its quarter, seen from so close that the
    terminator crosses the middle of the frame."""
    return (0.99 * np.cos(angle), 0.99 * np.sin(angle), 0.14)


# group: (targets, variants, options). Options: overrides of the target's parameters (a function
# of the case's generator), gains, balance, peak/noise, green_ratio, defects.
STRESS_MOSAICS = {
    # White balanced in the camera, not grey: green no longer the brightest.
    "wb-warm": (("jupiter", "saturn"), MIXED, dict(balance=balanced(1.25, 1.0))),
    "wb-mars": (("mars",), MIXED, dict(balance=balanced(1.0, 1.0))),
    "wb-cold": (("jupiter", "moon"), MIXED, dict(balance=balanced(0.9, 1.5))),
    "wb-grey-imbalance": (("moon", "sun"), MIXED, dict(balance=balanced(1.0, 1.0),
                                                      green_ratio=lambda rng: rng.uniform(1.03, 1.05))),
    # Blue targets: small cyan and blue discs, raw blue near or above red.
    "ice-giant": (("uranus", "neptune"), MIXED, dict()),
    "ice-giant-blue-sensor": (("uranus", "neptune"), MIXED, dict(gains=blue_sensitive_gains)),
    # Faint and noisy.
    "faint8": (("jupiter", "moon", "saturn"), EIGHT, dict(sensor=faint((0.02, 0.05), (250, 700), (3, 6)))),
    "faint16": (("jupiter", "moon", "mars"), DEEP, dict(sensor=faint((0.02, 0.05), (1500, 5000), (2, 5)))),
    # Sensor defects and clipping.
    "hot-stuck": (("jupiter", "mars", "moon"), MIXED, dict(defects=hot_and_stuck)),
    "clipped": (("jupiter", "moon", "sun"), MIXED, dict(sensor=dict(peak=(1.3, 1.8)))),
    # Little of the object, or the object cut by the frame.
    "tiny": (("mars", "jupiter"), MIXED, dict(overrides=lambda rng, shape: dict(radius=rng.uniform(4, 8)))),
    "edge-cut": (("jupiter", "mars"), MIXED, dict(overrides=lambda rng, shape: dict(
        centre=(rng.choice([0.0, 1.0]), rng.uniform(0.3, 0.7))))),
    # A green imbalance past the usual 1-3%.
    "imbalance": (("jupiter", "moon", "sun"), MIXED, dict(green_ratio=lambda rng: 1 + rng.choice([-1, 1]) *
                                                        rng.uniform(0.03, 0.05))),
    # Strong gradients.
    "thin-crescent": (("moon",), MIXED, dict(overrides=lambda rng, shape: dict(
        radius=min(shape) * 0.42, centre=(0.5, 0.5),
        sun=(np.sin(2.75) * rng.choice([-1.0, 1.0]), 0.0, np.cos(2.75))))),
    "terminator": (("moon",), MIXED, dict(overrides=lambda rng, shape: dict(
        radius=min(shape) * 1.6, centre=(0.5, 0.5), sun=terminator_sun(rng.uniform(0, 2 * np.pi))))),
    "steep-limb": (("sun", "jupiter"), MIXED, dict(overrides=lambda rng, shape: dict(
        limb=(0.92, 0.96, 0.99), limb_power=2.5))),
}


def stress_mosaic(cases, group, target, order, variant, vi, shape, frames, options):
    name, container, depth, stream = variant
    case = "stress-%s-%s-%s-%s" % (group, target, order, name)
    rng = rng_for(case)
    overrides = options["overrides"](rng, shape) if "overrides" in options else None
    pictures, drift = scene_frames(target, rng, shape, frames, vi, overrides)
    gains = options.get("gains", raw_gains)(rng)
    sensor = Sensor(rng, depth)
    entry = dict(kind="stress", nature="mosaic", group=group, target=target, order=order,
                 gains=[round(g, 3) for g in gains])
    balance = options["balance"](gains) if "balance" in options else None
    settings = options.get("sensor", {})
    if "full_well" in settings:
        sensor.electrons_per_dn = rng.uniform(*settings["full_well"]) / sensor.top
        sensor.read_noise = rng.uniform(*settings["read_noise"]) / sensor.electrons_per_dn
        entry["full_well"] = round(sensor.electrons_per_dn * sensor.top)
    if "peak" in settings:
        sensor.peak = rng.uniform(*settings["peak"]) * (sensor.top - sensor.black)
        entry["peak"] = round(sensor.peak / (sensor.top - sensor.black), 3)
    elif balance is not None:
        # Balanced red or blue outshines green: keep the brightest channel where green was.
        sensor.peak /= max(float(np.max(balance * gains)), 1.0)
    green_ratio = 1.0
    if "green_ratio" in options:
        green_ratio = options["green_ratio"](rng)
        entry["green_ratio"] = round(green_ratio, 4)
    planes = mosaic_planes(pictures, order, gains, sensor, green_ratio, rng.uniform(0.0, 0.01))
    if balance is not None:
        index, _ = site_masks(order, shape)
        m = balance[index]
        planes = [np.clip(np.rint((p - sensor.black) * m + sensor.black), 0, sensor.top).astype(np.int64)
                  for p in planes]
        entry["balance"] = [round(b, 3) for b in balance]
    if "defects" in options:
        apply, said = options["defects"](rng, shape, sensor.top)
        planes = [apply(p) for p in planes]
        entry.update(said)
    entry.update(black=round(sensor.black, 1), drift=round(drift, 2))
    cases.add(case, planes, container, depth, stream, entry)


def mono_pattern(kind, rng, shape, top):
    """A monochrome sensor's fixed pattern: a gain per site (even/odd columns or rows a few percent
    apart, both, or a 2 x 2 checkerboard), and for row-noise an offset per row that changes from
    frame to frame."""
    gain = np.ones(shape)
    said = {}
    if kind in ("columns", "columns-rows", "row-noise"):
        said["column_gain"] = round(rng.uniform(0.03, 0.08), 4)
        gain[:, 1::2] *= 1 + said["column_gain"]
    if kind in ("rows", "columns-rows"):
        said["row_gain"] = round(rng.uniform(0.03, 0.08), 4)
        gain[1::2, :] *= 1 + said["row_gain"]
    if kind == "checkerboard":
        said["checker_gain"] = round(rng.uniform(0.01, 0.02), 4)
        gain[0::2, 0::2] *= 1 + said["checker_gain"]
        gain[1::2, 1::2] *= 1 + said["checker_gain"]
    rows = 0.0
    if kind == "row-noise":
        said["row_noise"] = round(rng.uniform(0.004, 0.01) * top, 2)
        rows = said["row_noise"]
    return gain * (1 + rng.normal(0, 0.01, shape)), rows, said


STRESS_MONO = {
    "columns": ("moon", "jupiter", "sun"),
    "rows": ("moon", "jupiter", "sun"),
    "columns-rows": ("moon", "jupiter", "sun"),
    "checkerboard": ("moon", "jupiter", "sun"),
    "row-noise": ("moon", "jupiter", "sun"),
}
MONO_VARIANTS = (V["avi8-i420"], AVI_GRAY, V["ser8"], V["ser12"], V["ser16"])


def stress_mono(cases, pattern, target, variant, vi, shape, frames):
    name, container, depth, stream = variant
    case = "stress-mono-%s-%s-%s" % (pattern, target, name)
    rng = rng_for(case)
    pictures, drift = scene_frames(target, rng, shape, frames, vi)
    sensor = Sensor(rng, depth)
    gain, row_noise, said = mono_pattern(pattern, rng, shape, sensor.top)
    luminance = [pic @ np.array([0.3, 0.59, 0.11]) for pic in pictures]
    scale = sensor.peak / max(float(luminance[0].max()), 1e-9)
    planes = []
    for lum in luminance:
        plane = sensor.expose(lum * gain * scale)
        if row_noise:
            plane = plane + np.rint(rng.normal(0, row_noise, (shape[0], 1))).astype(np.int64)
        planes.append(np.clip(plane, 0, sensor.top))
    entry = dict(kind="stress", nature="mono", group="mono-" + pattern, target=target, order=None,
                 black=round(sensor.black, 1), drift=round(drift, 2))
    entry.update(said)
    cases.add(case, planes, container, depth, stream, entry)


# Decoded video other than testsrc2, in the stream formats ffmpeg writes raw into an AVI. RAW
# Y-channel shows the head of each stored sample (the Y plane of I420, the first third of a bgr24
# sample, bytes of both luma and chroma in UYVY and YUY2); the detector reads the same.
STRESS_DECODED_SOURCES = ("mandelbrot", "smptebars", "rgbtestsrc")
STRESS_DECODED_STREAMS = ("I420", "BGR24", "UYVY", "YUY2", "Y800", "PAL8")


def stress_decoded(cases, shape, frames):
    h, w = shape
    for source in STRESS_DECODED_SOURCES:
        for stream in STRESS_DECODED_STREAMS:
            cases.add_decoded("stress-decoded-%s-%s" % (source, PIXEL_FORMATS[stream]),
                              ["-f", "lavfi", "-i", "%s=size=%dx%d:rate=25" % (source, w, h), "-frames:v", str(frames),
                               "-c:v", "rawvideo", "-pix_fmt", PIXEL_FORMATS[stream]],
                              dict(kind="stress", nature="decoded", group="decoded-" + source, target=source,
                                   order=None, stream=stream))
    for target in ("jupiter", "mars"):
        name = "stress-decoded-%s" % target
        rng = rng_for(name)
        pictures, _ = scene_frames(target, rng, shape, frames, 0)
        top = max(float(pictures[0].max()), 1e-9)
        path = os.path.join(cases.folder, name + ".rgb")
        with open(path, "wb") as out:
            out.write(b"".join(np.clip(np.rint(pic / top * 230), 0, 255).astype(np.uint8).tobytes()
                               for pic in pictures))
        for stream in ("UYVY", "YUY2", "Y800", "PAL8"):
            cases.add_decoded("%s-%s" % (name, PIXEL_FORMATS[stream]),
                              ["-f", "rawvideo", "-pix_fmt", "rgb24", "-s", "%dx%d" % (w, h), "-r", "25", "-i", path,
                               "-c:v", "rawvideo", "-pix_fmt", PIXEL_FORMATS[stream]],
                              dict(kind="stress", nature="decoded", group="decoded-picture", target=target,
                                   order=None, stream=stream))
        os.remove(path)


# Stress cases the detector is known to be sure and wrong on, or to call a mosaic when they are
# none: `--stress all` writes them, the subset the test runs leaves them out so that the test
# shows any new fault. Each is listed with what the detector says in docs/MOSAIC.md.
# Cases that once fooled the detector, written in every run so the test keeps showing they are
# fixed. Even/odd columns and rows both 5-8% apart: the gain pattern is (1, c / r, rc), one
# diagonal agrees exactly and the other differs by c * r, and the detector took it for a mosaic,
# sure of its diagonal, until it learnt that such a block is a row and a column gain.
REGRESSIONS = (
    "stress-mono-columns-rows-jupiter-avi8-i420",
    "stress-mono-columns-rows-jupiter-ser16",
    "stress-mono-columns-rows-moon-avi8-gray",
    "stress-mono-columns-rows-sun-avi8-gray",
    "stress-mono-columns-rows-sun-ser12",
)


def stress_cases(cases, shape, frames, everything):
    """Every group in each of the four orders. With `everything`, each order in each of the
    group's containers and depths, and each of its targets; otherwise one case per order, the
    targets and containers taken in turn, and the regressions added."""
    for gi, (group, (targets, variants, options)) in enumerate(STRESS_MOSAICS.items()):
        for oi, order in enumerate(ORDERS):
            chosen = [(t, v) for t in targets for v in variants] if everything else \
                [(targets[oi % len(targets)], variants[(gi + oi) % len(variants)])]
            for target, variant in chosen:
                name = "stress-%s-%s-%s-%s" % (group, target, order, variant[0])
                stress_mosaic(cases, group, target, order, variant, oi, shape, frames, options)
    for pi, (pattern, targets) in enumerate(STRESS_MONO.items()):
        every = [(t, v) for t in targets for v in MONO_VARIANTS]
        some = [(targets[(pi + k) % len(targets)], MONO_VARIANTS[(pi + k) % len(MONO_VARIANTS)]) for k in range(3)]
        chosen = every if everything else some
        for ti, (target, variant) in enumerate(chosen):
            stress_mono(cases, pattern, target, variant, ti, shape, frames)
        if not everything:
            # The regressions as "all" writes them, with the same index, so the same noise.
            for ti, (target, variant) in enumerate(every):
                name = "stress-mono-%s-%s-%s" % (pattern, target, variant[0])
                if name in REGRESSIONS and (target, variant) not in some:
                    stress_mono(cases, pattern, target, variant, ti, shape, frames)
    stress_decoded(cases, shape, frames)


def main(argv):
    if not argv or argv[0].startswith("-"):
        sys.exit(__doc__)
    folder = argv[0]
    os.makedirs(folder, exist_ok=True)
    cases = Cases(folder)
    shape = (HEIGHT, WIDTH)
    mosaic_cases(cases, shape, FRAMES, VARIANTS)
    mono_cases(cases, shape, FRAMES)
    balanced_grey_cases(cases, shape, FRAMES)
    decoded_cases(cases, shape, FRAMES)
    stress = "some"
    for a in argv[1:]:
        if a.startswith("--stress="):
            stress = a.split("=", 1)[1]
    if stress not in ("none", "some", "all"):
        sys.exit("--stress= takes none, some or all")
    if stress != "none":
        stress_cases(cases, shape, FRAMES, stress == "all")
    if "--large" in argv[1:]:
        # Full HD: the Sun filling the frame and the Moon's limb, as 12-bit SER and 8-bit AVI.
        mosaic_cases(cases, (1080, 1920), 6, [VARIANTS[3]], ("sun",), ("GBRG",), "-1080p")
        mosaic_cases(cases, (1080, 1920), 6, [VARIANTS[0]], ("moon",), ("BGGR",), "-1080p")
    cases.save()


if __name__ == "__main__":
    main(sys.argv[1:])
