"""The message as one self-contained web page (make-message --html OUT.html): the
browser player's page, built under web/, carrying the two clips. It plays when opened
straight from disk, in any browser."""
import os
import subprocess
import sys

CHECKOUT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))


def page_site():
    """The built page's directory: $CLIPNOTE_WEB_SITE, else the checkout's build/web/site."""
    return os.environ.get("CLIPNOTE_WEB_SITE", os.path.join(CHECKOUT, "build", "web", "site"))


def write_html_page(out_path, movie_path, speech_path):
    """Writes the page with the clips (the speech clip may be None). Raises OSError when
    the page has not been built or the file cannot be written."""
    site = page_site()
    if not os.path.exists(os.path.join(site, "index.html")):
        raise OSError(f"no player page in {site}: scripts/run --web builds it")
    clips = [movie_path] + ([speech_path] if speech_path else [])
    maker = os.path.join(CHECKOUT, "web", "tools", "make_single_html.py")
    result = subprocess.run([sys.executable, maker, site, out_path, *clips], capture_output=True, text=True)
    if result.returncode != 0:
        raise OSError(f"cannot write {out_path}: {result.stderr.strip()}")
