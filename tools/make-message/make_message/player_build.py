"""Building players around new clips: placeholder until the build layout is settled."""


def build_players(movie_path, speech_path, out_dir, log):
    raise NotImplementedError
