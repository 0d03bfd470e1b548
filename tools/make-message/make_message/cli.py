"""make-message: video and speech in, the player's two clips (and a new player) out."""

import argparse
import os
import sys
import tempfile

from . import (external, g723_stream, h263_stream, html_page, output_files, player_build,
               speech_clip, summary, verify, video_clip)

# The player reserves 480 bytes of sound per coded byte; past a few minutes that reservation
# grows beyond what a 32-bit player can be sure to get.
MAX_SECONDS = 300.0


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="make-message",
        description="Make the video clip (message.263) and speech clip (message.723) of a "
                    "Clipnote message from any video, with its own sound, another audio file "
                    "or a text to be spoken.")
    parser.add_argument("video", help="video file (any format ffmpeg reads; a still image is "
                                      "held for the length of the speech)")
    sound = parser.add_mutually_exclusive_group()
    sound.add_argument("--audio", metavar="FILE", help="audio file for the speech")
    sound.add_argument("--say", metavar="TEXT", help="text to speak with espeak-ng")
    sound.add_argument("--say-file", metavar="FILE", help="file whose text espeak-ng speaks")
    sound.add_argument("--no-audio", action="store_true",
                       help="a message without sound (the player says 'Video only')")
    parser.add_argument("-o", "--output", default=".", metavar="DIR",
                        help="where message.263 and message.723 go (default: here)")
    parser.add_argument("--quantiser", type=int, default=video_clip.DEFAULT_QUANTISER,
                        metavar="Q", help="H.263 quantiser 2..31, lower is sharper and larger "
                                          f"(default {video_clip.DEFAULT_QUANTISER})")
    parser.add_argument("--voice", default="en-us", help="espeak-ng voice (default en-us)")
    parser.add_argument("--speed", type=int, help="espeak-ng words per minute")
    parser.add_argument("--keep-level", action="store_true",
                        help="do not bring the speech peak to -3 dBFS")
    parser.add_argument("--decoder", metavar="PATH",
                        help="clipnote-decode to check the clips with (default: the build tree; "
                             "built if there is none)")
    parser.add_argument("--build-player", metavar="DIR",
                        help="also write DIR/clipnote.exe, the Windows player with the clips as "
                             "its message (clipnote-decode pack: no compiler needed)")
    parser.add_argument("--build-native-player", metavar="DIR",
                        help="also build clipnote.exe and the native clipnote around the clips "
                             "from a copy of this source (cmake and the mingw-w64 cross "
                             "compiler; minutes)")
    parser.add_argument("--html", metavar="OUT.html",
                        help="also write the message as one web page that plays in any browser, "
                             "straight from disk (needs the browser player built under web/)")
    parser.add_argument("--work-dir", metavar="DIR",
                        help="keep intermediate files here instead of a temporary folder")
    args = parser.parse_args(argv)
    if not 2 <= args.quantiser <= 31:
        parser.error("--quantiser must be between 2 and 31")
    return args


def speech_samples(args, has_own_audio, work_dir):
    if args.no_audio:
        return None
    if args.say is not None or args.say_file is not None:
        if args.say_file is not None:
            try:
                with open(args.say_file, encoding="utf-8") as f:
                    text = f.read()
            except (OSError, UnicodeDecodeError) as error:
                raise external.ToolError(f"cannot read '{args.say_file}': {error}") from None
        else:
            text = args.say
        wav = speech_clip.speak(text, work_dir, args.voice, args.speed)
        return speech_clip.read_pcm(wav, work_dir, not args.keep_level)
    source = args.audio
    if source is None:
        if not has_own_audio:
            raise external.ToolError(f"'{args.video}' has no sound: give --audio FILE, "
                                     "--say TEXT or --no-audio")
        source = args.video
    elif not external.probe_streams(source)[1]:
        raise external.ToolError(f"'{source}' has no audio stream")
    return speech_clip.read_pcm(source, work_dir, not args.keep_level)


def make_clips(args, work_dir, log):
    has_video, has_audio, duration = external.probe_streams(args.video)
    if not has_video:
        raise external.ToolError(f"'{args.video}' has no video stream")
    if duration and duration > MAX_SECONDS + 1:
        raise external.ToolError(f"'{args.video}' lasts {duration:.1f} s; the player takes "
                                 f"messages of up to {MAX_SECONDS:.0f} s")
    decoder = verify.find_decoder(args.decoder, log)

    raw, frame_count = video_clip.decode_to_qcif(args.video, work_dir)
    samples = speech_samples(args, has_audio, work_dir)
    seconds = frame_count / video_clip.TICKS_PER_SECOND
    if samples is not None:
        seconds = max(seconds, len(samples) / speech_clip.SAMPLE_RATE)
    if seconds > MAX_SECONDS:
        raise external.ToolError(f"the message would last {seconds:.1f} s; the player takes "
                                 f"messages of up to {MAX_SECONDS:.0f} s")

    if samples is None:
        speech = g723_stream.voice_clip([])
        last_tick = video_clip.last_tick_for(seconds)
    else:
        frame_total = speech_clip.frames_for(seconds)
        # The playback ends at the last picture: put it where the speech ends.
        last_tick = max(2, (frame_total * 9 + 9) // 10)
        frames, _ = speech_clip.make_speech_frames(samples, frame_total, work_dir)
        speech = g723_stream.voice_clip(frames)

    movie, ticks = video_clip.make_video_clip(raw, frame_count, last_tick, work_dir,
                                              args.quantiser)
    verify.check_video(movie, ticks, decoder, work_dir)
    verify.check_speech(speech, decoder, work_dir)
    log("checked with clipnote-decode: every picture and the whole speech decode")
    return movie, speech


def run(argv, log=lambda text: print(text, file=sys.stderr)):
    args = parse_args(argv)
    output_files.interrupts_clean_up()
    written = []  # finished files, which an interrupt after them leaves in place
    try:
        if args.html and not os.path.exists(os.path.join(html_page.page_site(), "index.html")):
            # Said before the clips are made, not after.
            raise external.ToolError(f"--html needs the browser player's page, built in "
                                     f"{html_page.page_site()} (scripts/run --web builds it)")
        os.makedirs(args.output, exist_ok=True)
        if args.work_dir:
            os.makedirs(args.work_dir, exist_ok=True)
            movie, speech = make_clips(args, args.work_dir, log)
        else:
            with tempfile.TemporaryDirectory(prefix="make-message-") as work_dir:
                movie, speech = make_clips(args, work_dir, log)
        movie_path = os.path.join(args.output, "message.263")
        speech_path = os.path.join(args.output, "message.723")
        with output_files.OutputRun() as clips:  # the pair, or neither
            clips.write(movie_path, movie)
            clips.write(speech_path, speech)
            clips.commit()
        written = [movie_path, speech_path]
        log(summary.describe(summary.video_summary(movie), summary.speech_summary(speech)))
        log(f"wrote {movie_path} and {speech_path}")
        if args.html:
            html_page.write_html_page(args.html, movie_path, None if args.no_audio else speech_path)
            written.append(args.html)
            log(f"wrote {args.html}")
        if args.build_player:
            decoder = verify.find_decoder(args.decoder, log)
            log(f"wrote {player_build.write_player(decoder, movie_path, speech_path, args.build_player)}")
        if args.build_native_player:
            for built in player_build.build_players(movie_path, speech_path,
                                                    args.build_native_player, log):
                log(f"built {built}")
    except (external.ToolError, h263_stream.ClipError, g723_stream.StreamError) as error:
        print(f"make-message: error: {error}", file=sys.stderr)
        return 2
    except OSError as error:
        print(f"make-message: error: {error}; this run's files removed", file=sys.stderr)
        return 2
    except (KeyboardInterrupt, output_files.Interrupted):
        kept = f" ({' and '.join(written)} were complete and stay)" if written else ""
        print(f"make-message: interrupted; this run's unfinished files removed{kept}",
              file=sys.stderr)
        return 130
    return 0


def main():
    sys.exit(run(sys.argv[1:]))
