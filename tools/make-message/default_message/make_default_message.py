#!/usr/bin/env python3
"""Makes the default message that ships in resources/: a drawn landscape scene that follows
four spoken sentences (greeting, Play/Stop, the size button, goodbye), then make-message.

    tools/make-message/default_message/make_default_message.py [--output resources]

Each sentence of script.txt is spoken by espeak-ng; the sentences are laid end to end with
pauses under a faint room tone, and the scene's sections are timed to them: a slow sunrise
while the greeting is spoken, a fast bouncing ball over Play and Stop buttons, a frame that
grows to double size and back for the size button, a sunset for the goodbye, and still
moments in the pauses. The motion speeds are chosen so that the picture spacing covers
2, 3, 4 and 8 ticks.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import wave

HERE = os.path.dirname(os.path.realpath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
W, H = 176, 144
FPS = 30
LEAD_IN = 0.8     # seconds of scene before the first word
PAUSE = 1.6       # between sentences: the scene holds still
TAIL = 1.0        # after the last word
VOICE, SPEED = "en-us", 150
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"


def run(args):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    if result.returncode != 0:
        sys.exit(f"{args[0]} failed: {result.stderr.decode(errors='replace')[-2000:]}")
    return result.stdout


def sox(args):
    """sox without dither and with its fixed random seed, so every run makes the same bytes."""
    return run(["sox", "-R", "-D"] + args)


def ffmpeg(*args):
    return run(["ffmpeg", "-hide_banner", "-nostdin", "-v", "error", "-y", *args])


def wav_seconds(path):
    with wave.open(path, "rb") as w:
        return w.getnframes() / w.getframerate()


def make_speech(work):
    """Speaks each sentence; returns (speech wav, [(start, end) of each sentence], length)."""
    with open(os.path.join(HERE, "script.txt"), encoding="utf-8") as f:
        sentences = [line.strip() for line in f if line.strip()]
    parts, spans, t = [], [], LEAD_IN
    rate = None
    for i, sentence in enumerate(sentences):
        path = os.path.join(work, f"sentence{i}.wav")
        run(["espeak-ng", "-v", VOICE, "-s", str(SPEED), "-w", path, sentence])
        # espeak-ng leaves a little silence at both ends; trim it so the timing is the words'.
        trimmed = os.path.join(work, f"sentence{i}-trim.wav")
        sox([path, trimmed, "silence", "1", "0.01", "0.1%", "reverse", "silence", "1",
             "0.01", "0.1%", "reverse"])
        with wave.open(trimmed, "rb") as w:
            rate = w.getframerate()
        length = wav_seconds(trimmed)
        spans.append((t, t + length))
        parts.append(trimmed)
        t += length + PAUSE
    total = spans[-1][1] + TAIL
    # Lay the sentences on a silent track at their start times, then add the room tone.
    silence = os.path.join(work, "silence.wav")
    sox(["-n", "-r", str(rate), "-c", "1", "-b", "16", silence, "trim", "0",
         f"{total:.4f}"])
    pieces = []
    for (start, _), part in zip(spans, parts):
        padded = os.path.join(work, os.path.basename(part) + "-pad.wav")
        sox([part, padded, "pad", f"{start:.4f}", "0"])
        pieces += ["-v", "1", padded]
    voice = os.path.join(work, "voice.wav")
    sox(["-m", "-v", "1", silence, *pieces, voice, "trim", "0", f"{total:.4f}"])
    tone = os.path.join(work, "tone.wav")
    sox(["-n", "-r", str(rate), "-c", "1", "-b", "16", tone, "synth", f"{total:.4f}",
         "brownnoise", "vol", "0.02", "highpass", "150"])
    speech = os.path.join(work, "speech.wav")
    sox(["-m", "-v", "1", voice, "-v", "1", tone, speech])
    return speech, spans, total


def piecewise(keys):
    """ffmpeg expression of t that runs linearly through the (time, value) key points."""
    expr = f"{keys[-1][1]}"
    for (t0, v0), (t1, v1) in reversed(list(zip(keys, keys[1:]))):
        slope = (v1 - v0) / (t1 - t0) if t1 > t0 else 0.0
        expr = f"if(lt(t,{t1:.4f}),{v0:.4f}+(t-{t0:.4f})*{slope:.5f},{expr})"
    return expr


def make_assets(work):
    """Still pictures the scene moves around: sky, two layers of hills, sun, ball."""
    def still(name, size, geq):
        path = os.path.join(work, name)
        ffmpeg("-f", "lavfi", "-i", f"color=black:s={size}:d=1,format=rgba,geq={geq}",
               "-frames:v", "1", path)
        return path

    sky = still("sky.png", f"{W}x{H}",
                "r='30+220*pow(Y/H,1.6)':g='60+120*pow(Y/H,2)':b='150-40*Y/H':a=255")
    # Hills repeat every 528 pixels; the layers are 704 wide so any 176-wide window fits.
    far = still("far.png", "704x70",
                "r=40:g='90+20*sin(X/17)':b=70:"
                "a='255*gt(Y,28+12*sin(2*PI*X/264)+7*sin(2*PI*X/88))'")
    near = still("near.png", "704x50",
                 "r='60+30*sin(X/9)*sin(Y/5)':g='150+40*sin(X/13)':b=40:"
                 "a='255*gt(Y,20+14*sin(2*PI*X/176+1)+5*sin(2*PI*X/66))'")
    sun = still("sun.png", "36x36",
                "r=255:g='220-2*hypot(X-18,Y-18)':b=60:"
                "a='255*clip(17-hypot(X-18,Y-18),0,1)'")
    ball = still("ball.png", "22x22",
                 "r='255-3*hypot(X-8,Y-8)':g='60+150*lt(hypot(X-7,Y-7),3)':"
                 "b='60+150*lt(hypot(X-7,Y-7),3)':a='255*clip(11-hypot(X-11,Y-11),0,1)'")
    return sky, far, near, sun, ball


def scene_graph(spans, total):
    (a0, a1), (b0, b1), (c0, c1), (d0, d1) = spans
    # Pauses hold still: every mover stops from the end of a sentence to the next one's start.
    def moving(speed_by_section):
        keys, pos = [(0.0, 0.0)], 0.0
        bounds = [(0.0, a1), (a1, b0), (b0, b1), (b1, c0), (c0, c1), (c1, d0), (d0, total)]
        for (t0, t1), speed in zip(bounds, speed_by_section):
            pos += speed * FPS * (t1 - t0)
            keys.append((t1, pos))
        return keys

    # Pixels per tick in each section: greeting, pause, play/stop, pause, size, pause, goodbye.
    near = moving([1.0, 0, 4.0, 0, 2.0, 0, 1.0])
    far = moving([0.5, 0, 2.0, 0, 1.0, 0, 0.5])
    near_x = f"-mod({piecewise(near)},528)"
    far_x = f"-mod({piecewise(far)},528)"
    sun_x = piecewise([(0, 20), (a1, 50), (d0, 50), (total, 130)])
    sun_y = piecewise([(0, 110), (a1, 22), (d0, 22), (total, 92)])
    # The ball crosses the screen at 4.5 pixels per tick and bounces twice a second.
    ball_on = f"between(t,{b0 - 0.3:.3f},{b1 + 0.2:.3f})"
    ball_x = f"abs(mod((t-{b0:.3f})*135+10,300)-150)+4"
    ball_y = f"92-abs(sin((t-{b0:.3f})*PI*2))*70"
    # The size panel grows from half to the full picture and back, twice.
    # (geq calls the time T.)
    grow = f"(0.5+0.5*abs(sin((T-{c0:.3f})*PI/{(c1 - c0) / 2:.3f})))"
    frame_on = f"between(T,{c0:.3f},{c1:.3f})"
    dusk = piecewise([(0, 0), (d0, 0), (total, -0.45)])

    def text(content, start, end, size, y, colour="white"):
        fade = f"min(1,min((t-{start:.3f})*3,({end:.3f}-t)*3))"
        return (f"drawtext=fontfile={FONT}:text='{content}':fontsize={size}:fontcolor={colour}"
                f":borderw=2:bordercolor=black@0.8:x=(w-text_w)/2:y={y}:alpha='{fade}'"
                f":enable='between(t,{start:.3f},{end:.3f})'")

    play_hi = f"between(t,{b0:.3f},{(b0 + b1) / 2:.3f})"
    stop_hi = f"between(t,{(b0 + b1) / 2:.3f},{b1 + PAUSE / 2:.3f})"
    graph = [
        f"[0:v]hue=b='{dusk}'[sky]",
        f"[sky][3:v]overlay=x='{sun_x}':y='{sun_y}':eval=frame:format=rgb[s1]",
        f"[s1][1:v]overlay=x='{far_x}':y=62:eval=frame:format=rgb[s2]",
        f"[s2][2:v]overlay=x='{near_x}':y=96:eval=frame:format=rgb[s3]",
        f"[s3][4:v]overlay=x='{ball_x}':y='{ball_y}':eval=frame:format=rgb:enable='{ball_on}'[s4]",
        # Play and Stop buttons, the one being spoken about lit up.
        f"[s4]drawbox=x=30:y=112:w=52:h=24:color=0x404040:t=fill:"
        f"enable='between(t,{b0 - 0.3:.3f},{b1 + PAUSE / 2:.3f})',"
        f"drawbox=x=94:y=112:w=52:h=24:color=0x404040:t=fill:"
        f"enable='between(t,{b0 - 0.3:.3f},{b1 + PAUSE / 2:.3f})',"
        f"drawbox=x=30:y=112:w=52:h=24:color=yellow:t=3:enable='{play_hi}',"
        f"drawbox=x=94:y=112:w=52:h=24:color=yellow:t=3:enable='{stop_hi}',"
        f"drawtext=fontfile={FONT}:text='Play':fontsize=14:fontcolor=white:x=40:y=117:"
        f"enable='between(t,{b0 - 0.3:.3f},{b1 + PAUSE / 2:.3f})',"
        f"drawtext=fontfile={FONT}:text='Stop':fontsize=14:fontcolor=white:x=104:y=117:"
        f"enable='between(t,{b0 - 0.3:.3f},{b1 + PAUSE / 2:.3f})'[s5]",
        # The growing panel: translucent, with soft edges, drawn per picture.
        f"color=black@0:s={W}x{H}:r={FPS},format=rgba,"
        f"geq=r=255:g=230:b=90:a='{frame_on}*150*"
        f"clip(min(W/2*{grow}-abs(X-W/2),H/2*{grow}-abs(Y-H/2))/6,0,1)'[box]",
        f"[s5][box]overlay=format=rgb[s6]",
        "[s6]" + ",".join([
            text("Hello!", a0 - 0.4, a1 + PAUSE / 2, 30, 34),
            text("Play  /  Stop", b0, b1 + PAUSE / 2, 18, 20),
            text("CIF   QCIF", c0, c1 + PAUSE / 2, 18, 20, "yellow"),
            text("make-message", d0, (d0 + d1) / 2, 18, 20),
            text("Goodbye!", (d0 + d1) / 2, total, 26, 30),
        ]) + ",format=yuv420p[out]",
    ]
    return ";\n".join(graph)


def make_scene(work, spans, total):
    sky, far, near, sun, ball = make_assets(work)
    script = os.path.join(work, "scene.filter")
    with open(script, "w") as f:
        f.write(scene_graph(spans, total))
    # YUV4MPEG keeps the 30 Hz frame clock exact; every frame is a new one.
    scene = os.path.join(work, "scene.y4m")
    inputs = []
    for path in (sky, far, near, sun, ball):
        inputs += ["-loop", "1", "-framerate", str(FPS), "-t", f"{total:.4f}", "-i", path]
    ffmpeg(*inputs, "-filter_complex_script", script, "-map", "[out]", "-t", f"{total:.4f}",
           "-fps_mode", "passthrough", scene)
    return scene


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", default=os.path.join(REPO, "resources"))
    parser.add_argument("--work-dir")
    parser.add_argument("--decoder")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="default-message-") as tmp:
        work = args.work_dir or tmp
        os.makedirs(work, exist_ok=True)
        speech, spans, total = make_speech(work)
        scene = make_scene(work, spans, total)
        command = [os.path.join(HERE, "..", "make-message"), scene,
                   "--audio", speech, "-o", args.output, "--force"]
        if args.decoder:
            command += ["--decoder", args.decoder]
        sys.exit(subprocess.call(command))


if __name__ == "__main__":
    main()
