#!/usr/bin/env python3
"""Tests of run_examples.py on a page made here: it finds every block and
its marks, runs the examples against the real tool, and reports failures,
skips, broken links and unmarked blocks.

    QUILLMORPH_EXE=build/Quillmorph QUILLMORPH_MAKE_CHART=build/make_chart \\
        python3 docs/test_run_examples.py
"""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_examples  # noqa: E402

PAGE = """# A page

[up](#a-page) [other](other.md) [gone](missing.md) [no heading](other.md#nowhere)

```sh run
echo written > out.txt
```

<!-- not run: fails on purpose -->
```sh
exit 1
```

```sh run needs=no-such-program
no-such-program
```

```sh run files=in.pgm
Quillmorph in.pgm out.pgm > /dev/null && test -s out.pgm
```

```sh run
false
```

```python
print("not marked")
```
"""


class RunExamples(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.page = os.path.join(self.folder.name, "page.md")
        with open(self.page, "w", encoding="utf-8") as file:
            file.write(PAGE)
        with open(os.path.join(self.folder.name, "other.md"), "w", encoding="utf-8") as file:
            file.write("# Other\n")

    def tearDown(self):
        self.folder.cleanup()

    def runner(self, *arguments):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_examples.py")
        return subprocess.run([sys.executable, script, *arguments, self.page],
                              capture_output=True, text=True, cwd=self.folder.name)

    def test_blocks_their_lines_and_marks(self):
        examples = run_examples.examples_in(self.page)
        table = [(e.line, e.language, e.runs, e.not_run, e.listed("needs") + e.listed("files"))
                 for e in examples]
        self.assertEqual(table, [(5, "sh", True, False, []), (10, "sh", False, True, []),
                                 (14, "sh", True, False, ["no-such-program"]),
                                 (18, "sh", True, False, ["in.pgm"]), (22, "sh", True, False, []),
                                 (26, "python", False, False, [])])
        self.assertEqual(examples[0].code, "echo written > out.txt\n")

    def test_links_and_unmarked_blocks_are_reported(self):
        result = self.runner("--links")
        self.assertEqual(result.returncode, 1)
        problems = result.stdout.splitlines()[:-1]
        self.assertEqual(len(problems), 3, result.stdout)
        self.assertIn("the link missing.md leads nowhere", problems[0])
        self.assertIn("has no heading #nowhere", problems[1])
        self.assertIn("page.md:26: a python block neither marked run", problems[2])

    def test_examples_pass_skip_and_fail(self):
        result = self.runner("--language", "sh",
                             "--tool", os.path.abspath(os.environ["QUILLMORPH_EXE"]),
                             "--make-chart", os.path.abspath(os.environ["QUILLMORPH_MAKE_CHART"]))
        self.assertEqual(result.returncode, 1, result.stdout)
        outcomes = [line.split(": ")[1] for line in result.stdout.splitlines()[:4]]
        self.assertEqual(outcomes, ["passed", "skipped", "passed", "failed"], result.stdout)
        self.assertEqual(result.stdout.splitlines()[-1], "2 passed, 1 failed, 1 skipped")
        # Every example ran in a scratch folder of its own.
        self.assertEqual(sorted(os.listdir(self.folder.name)), ["other.md", "page.md"])


if __name__ == "__main__":
    unittest.main()
