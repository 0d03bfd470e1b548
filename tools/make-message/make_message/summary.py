"""What a pair of clips holds, in the terms a message author cares about."""

from collections import Counter

from . import g723_stream, h263_stream


def video_summary(clip):
    headers = h263_stream.picture_headers(clip)
    trs = [h.temporal_reference for h in headers]
    gob_pictures = 0
    offsets = [h.offset for h in headers] + [len(clip)]
    gob_offsets = h263_stream.gob_header_offsets(clip)
    for start, end in zip(offsets, offsets[1:]):
        if any(start < g < end for g in gob_offsets):
            gob_pictures += 1
    ticks = sum(h263_stream.tick_gaps(trs))
    return {
        "bytes": len(clip),
        "pictures": len(headers),
        "intra": sum(1 for h in headers if h.kind == "INTRA"),
        "gob_headers": len(gob_offsets),
        "pictures_with_gob_headers": gob_pictures,
        "gaps": dict(sorted(Counter(h263_stream.tick_gaps(trs)).items())),
        "last_tick": ticks,
        "seconds": ticks / 30.0,
    }


def speech_summary(clip):
    capacity, frames = g723_stream.parse_voice_clip(clip)
    counts = g723_stream.kind_counts(frames)
    return {
        "bytes": len(clip),
        "pcm_capacity": capacity,
        "frames": len(frames),
        **counts,
        "seconds": len(frames) * 0.03,
    }


def describe(video, speech):
    lines = []
    if video:
        gaps = ", ".join(f"{gap}: {count}" for gap, count in video["gaps"].items())
        lines.append(f"video: {video['bytes']} bytes, {video['pictures']} pictures "
                     f"({video['intra']} intra; {video['gob_headers']} GOB headers in "
                     f"{video['pictures_with_gob_headers']} pictures) over {video['seconds']:.2f} s; gaps in ticks {{{gaps}}}")
    if speech:
        lines.append(f"speech: {speech['bytes']} bytes, {speech['frames']} frames "
                     f"({speech['active']} active, {speech['sid']} SID, "
                     f"{speech['untransmitted']} untransmitted), {speech['seconds']:.2f} s, "
                     f"pcmCapacity {speech['pcm_capacity']}")
    return "\n".join(lines)
