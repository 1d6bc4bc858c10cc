"""Progress bars on a terminal: one for the whole run, in output rows with
the time left, and one per file being worked.  Messages go through it so
that they print above the bars."""

import sys
from typing import Dict, Optional, TextIO

from .dependencies import MissingPackage, require


class Progress:
    def __init__(self, total_rows: int, files: int, show_bars: bool,
                 stream: TextIO = sys.stderr) -> None:
        self._stream = stream
        self._bars: Dict[int, object] = {}
        self._lines: Dict[int, int] = {}
        self._free_lines = list(range(1, files + 1))
        self._tqdm = None
        self._overall = None
        if not show_bars:
            return
        try:
            self._tqdm = require("tqdm").tqdm
        except MissingPackage as missing:
            stream.write(f"qmorph: no progress bar: {missing}\n")
            return
        # No monitor thread: the workers' processes are started after this.
        self._tqdm.monitor_interval = 0
        self._overall = self._tqdm(total=total_rows, desc=f"{files} files" if files > 1 else "",
                                   unit=" rows", file=stream, position=0, dynamic_ncols=True)

    def start(self, key: int, name: str, rows: int) -> None:
        if self._tqdm is None or rows == 0:
            return
        line = self._free_lines.pop(0) if self._free_lines else 1
        self._lines[key] = line
        self._bars[key] = self._tqdm(total=rows, desc=name, unit=" rows", file=self._stream,
                                     position=line, leave=False, dynamic_ncols=True)

    def advance(self, key: int, rows: int) -> None:
        bar = self._bars.get(key)
        if bar is not None:
            bar.update(rows)
        if self._overall is not None:
            self._overall.update(rows)

    def finish(self, key: int) -> None:
        bar = self._bars.pop(key, None)
        if bar is not None:
            self._free_lines.insert(0, self._lines.pop(key))
            bar.close()

    def message(self, text: str, stream: Optional[TextIO] = None) -> None:
        target = stream or sys.stdout
        if self._tqdm is not None:
            self._tqdm.write(text, file=target)
        else:
            target.write(text + "\n")
            target.flush()

    def close(self) -> None:
        for key in list(self._bars):
            self.finish(key)
        if self._overall is not None:
            self._overall.close()
