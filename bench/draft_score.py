#!/usr/bin/env python3
"""Scores tabulon-check --draft on generated fixed-width code page 932 files.

Each seed makes one file with a known layout: a random run of the fields
that host exports hold (zero-padded codes, right-aligned amounts with signs
and commas, dates, kanji and kana names padded with full-width or ASCII
blanks, alphanumeric codes, one-byte flags, postal codes, phone numbers,
addresses, blank fillers), abutting without separators. The draft of each
file is compared with the true layout over the field boundaries inside the
record (precision: drafted boundaries that are true; recall: true
boundaries drafted), and `tabulon-check -f DRAFT FILE` must exit 0.

Usage: draft_score.py --check PATH [--seeds 1-30] [--kinds-seeds S] [--names-seeds S]
       [--keep DIR] [--verbose]
"""

import argparse
import random
import subprocess
import sys
import tempfile
from pathlib import Path

SURNAMES = "佐藤 鈴木 高橋 田中 伊藤 渡辺 山本 中村 小林 加藤 吉田 山田 佐々木 山口 松本 井上 木村 林 斎藤 清水 山崎 森 池田 橋本 阿部 石川 山下 中島 石井 小川 前田 岡田 長谷川 藤田 後藤 近藤 村上 遠藤 青木 坂本 斉藤 福田 太田 西村 藤井 金子 岡本 藤原 中野 三浦 原田 中川 松田 竹内 小野 田村 中山 和田 石田 森田 上田 原 柴田 酒井 工藤 横山 宮崎 宮本 内田 高木 安藤 島田 谷口 大野 丸山 今井 河野 藤本 村田 武田 上野 杉山 増田 小山 大塚 千葉 久保 松井 小島 岩崎 桜井 野口 松尾 野村 木下 菊地 佐野 大西 杉本 新井 浜田 菅原 市川 水野 小松 島 古川 小池 勅使河原 五十嵐".split()
GIVEN = "太郎 花子 一郎 次郎 健 誠 大輔 翔太 拓也 直樹 美咲 陽子 恵子 由美 愛 優子 真由美 和也 達也 浩 学 修 剛 茂 明 清 進 実 隆 勇 博 正 聡 彩 舞 葵 結衣 陽菜 蓮 大和 悠真 湊 樹 さくら ひなた みゆき あずさ 翼 光 薫".split()
KANA_SURNAMES = "ｻﾄｳ ｽｽﾞｷ ﾀｶﾊｼ ﾀﾅｶ ｲﾄｳ ﾜﾀﾅﾍﾞ ﾔﾏﾓﾄ ﾅｶﾑﾗ ｺﾊﾞﾔｼ ｶﾄｳ ﾖｼﾀﾞ ﾔﾏﾀﾞ ｻｻｷ ﾔﾏｸﾞﾁ ﾏﾂﾓﾄ ｲﾉｳｴ ｷﾑﾗ ﾊﾔｼ ｻｲﾄｳ ｼﾐｽﾞ ﾓﾘ ｲｹﾀﾞ ﾊｼﾓﾄ ｱﾍﾞ ｲｼｶﾜ ﾁｬｼｶﾞﾜﾗ".split()
KANA_GIVEN = "ﾀﾛｳ ﾊﾅｺ ｲﾁﾛｳ ｼﾞﾛｳ ｹﾝ ﾏｺﾄ ﾀﾞｲｽｹ ｼｮｳﾀ ﾀｸﾔ ﾅｵｷ ﾐｻｷ ﾖｳｺ ｹｲｺ ﾕﾐ ｱｲ ﾕｳｺ ﾏﾕﾐ ｶｽﾞﾔ ﾀﾂﾔ ﾋﾛｼ".split()
PREFECTURES = "北海道 青森県 岩手県 宮城県 秋田県 山形県 福島県 茨城県 栃木県 群馬県 埼玉県 千葉県 東京都 神奈川県 新潟県 富山県 石川県 福井県 山梨県 長野県 岐阜県 静岡県 愛知県 三重県 滋賀県 京都府 大阪府 兵庫県 奈良県 和歌山県 鳥取県 島根県 岡山県 広島県 山口県 徳島県 香川県 愛媛県 高知県 福岡県 佐賀県 長崎県 熊本県 大分県 宮崎県 鹿児島県 沖縄県".split()
CITIES = "千代田区 中央区 港区 新宿区 横浜市 川崎市 札幌市 仙台市 名古屋市 大阪市 神戸市 京都市 広島市 福岡市 那覇市 さいたま市 千葉市 静岡市 浜松市 岡山市".split()
TOWNS = "本町 栄町 緑町 旭町 中町 新町 桜木町 大手町 丸の内 梅田 天神 錦 青葉台".split()
ITEMS = "ボールペン 消しゴム ノート コピー用紙 ホッチキス クリップ ファイル 封筒 付箋 マーカー 電卓 プリンタ用トナー".split()


def cp(text: str) -> bytes:
    return text.encode("cp932")


# What the draft and the check say of a row of names on line 1.
NAMES_ROW = cp("# 1行目は項目名の行です")
CHECK_NAMES_ROW = cp("1行目は項目名の行です")


def fit(value: bytes, width: int) -> bytes:
    """Cuts a value to the width without splitting a double-byte character."""
    out = bytearray()
    i = 0
    while i < len(value):
        step = 2 if (0x81 <= value[i] <= 0x9F or 0xE0 <= value[i] <= 0xFC) else 1
        if len(out) + step > width:
            break
        out += value[i : i + step]
        i += step
    return bytes(out)


def pad_right(value: bytes, width: int, wide: bool) -> bytes:
    value = fit(value, width)
    while wide and len(value) + 2 <= width:
        value += cp("　")
    return value + b" " * (width - len(value))


def log_uniform(rng: random.Random, digits: int) -> int:
    return int(10 ** rng.uniform(0, digits))


# Each maker returns (width, function that makes one value of that width).
def zero_code(rng):
    w = rng.randint(4, 10)
    top = rng.randint(max(1, w - 4), w - 1)
    return w, lambda r: str(r.randint(1, 10**top - 1)).zfill(w).encode()


def amount(rng):
    w = rng.randint(7, 13)
    commas = rng.random() < 0.3
    signed = rng.random() < 0.6
    digits = w - 2 - (w // 4 if commas else 0)

    def make(r):
        v = 0 if r.random() < 0.03 else log_uniform(r, digits)
        text = f"{v:,}" if commas else str(v)
        if signed and r.random() < 0.2:
            text = "-" + text
        return text.rjust(w).encode()

    return w, make


def date(rng):
    slashed = rng.random() < 0.3
    blanks = rng.random() < 0.3
    w = 10 if slashed else 8

    def make(r):
        if blanks and r.random() < 0.05:
            return b" " * w
        y, m, d = r.randint(1950, 2030), r.randint(1, 12), r.randint(1, 28)
        return (f"{y:04}/{m:02}/{d:02}" if slashed else f"{y:04}{m:02}{d:02}").encode()

    return w, make


def kanji_name(rng):
    chars = rng.randint(6, 15)
    wide = rng.random() < 0.6
    gap = "　" if rng.random() < 0.5 else ""
    w = chars * 2
    return w, lambda r: pad_right(cp(r.choice(SURNAMES) + gap + r.choice(GIVEN)), w, wide)


def kana_name(rng):
    w = rng.randint(12, 25)
    return w, lambda r: pad_right(cp(r.choice(KANA_SURNAMES) + " " + r.choice(KANA_GIVEN)), w, False)


def address(rng):
    w = rng.randint(16, 40) // 2 * 2
    wide = rng.random() < 0.7

    def make(r):
        text = r.choice(PREFECTURES) + r.choice(CITIES) + r.choice(TOWNS)
        text += "".join(chr(0xFF10 + int(c)) for c in str(r.randint(1, 30)))  # full-width digits
        return pad_right(cp(text), w, wide)

    return w, make


def item_name(rng):
    w = rng.randint(10, 30) // 2 * 2
    return w, lambda r: pad_right(cp(r.choice(ITEMS)), w, rng.random() < 0.5)


def alnum_code(rng):
    letters = rng.randint(1, 3)
    digits = rng.randint(3, 7)
    mixed = rng.random() < 0.3
    w = letters + digits
    alphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ"

    def make(r):
        if mixed:
            return "".join(r.choice(alphabet + "0123456789") for _ in range(w)).encode()
        head = "".join(r.choice(alphabet[: rng.randint(3, 24)]) for _ in range(letters))
        return (head + str(r.randint(0, 10**digits - 1)).zfill(digits)).encode()

    return w, make


def flag(rng):
    values = rng.choice(["01", "YN", "123", "ABC", "0129"])
    weights = [rng.random() + 0.05 for _ in values]
    return 1, lambda r: r.choices(values, weights)[0].encode()


def postal(rng):
    hyphen = rng.random() < 0.6
    w = 8 if hyphen else 7

    def make(r):
        a, b = r.randint(0, 999), r.randint(0, 9999)
        return (f"{a:03}-{b:04}" if hyphen else f"{a:03}{b:04}").encode()

    return w, make


def phone(rng):
    w = rng.randint(13, 15)

    def make(r):
        area = r.choice(["03", "06", "011", "045", "052", "092", "0120", "090", "080"])
        if len(area) == 2:
            text = f"{area}-{r.randint(1000, 9999)}-{r.randint(0, 9999):04}"
        elif area in ("090", "080"):
            text = f"{area}-{r.randint(1000, 9999)}-{r.randint(0, 9999):04}"
        else:
            text = f"{area}-{r.randint(100, 999)}-{r.randint(0, 9999):04}"
        return text.encode().ljust(w)

    return w, make


def filler(rng):
    w = rng.randint(1, 10)
    return w, lambda r: b" " * w


MAKERS = [zero_code, amount, date, kanji_name, kana_name, address, item_name, alnum_code, flag,
          postal, phone, filler]
WEIGHTS = [4, 4, 2, 2, 1, 1, 1, 2, 2, 1, 1, 1]


def make_file(seed: int, path: Path) -> list[int]:
    """Writes the file of one seed; returns its true field widths."""
    rng = random.Random(seed)
    fields = [rng.choices(MAKERS, WEIGHTS)[0](rng) for _ in range(rng.randint(5, 14))]
    if fields[0][0] == 1 and fields[0][1](rng) == b" ":
        fields = fields[1:]
    records = rng.choice([50, 200, 1000, 3000, 20000])
    ending = rng.choice([b"\r\n", b"\r\n", b"\n"])
    with path.open("wb") as out:
        for _ in range(records):
            out.write(b"".join(make(rng) for _, make in fields) + ending)
    return [w for w, _ in fields]


def boundaries(widths: list[int]) -> set[int]:
    cuts, at = set(), 0
    for w in widths[:-1]:
        at += w
        cuts.add(at)
    return cuts


def drafted_widths(draft: bytes) -> list[int]:
    widths = []
    for line in draft.split(b"\r\n"):
        if line and not line.startswith(b"#"):
            widths.append(int(line.split(b",")[1]))
    return widths


# Files of several kinds of records: bank-transfer-like (first byte 1 a
# header, 2 data, 8 a trailer, 9 the end) and a header and a trailer record
# around a body of generated fields. The draft must find the kinds (its
# first block is the data records' layout, scored like the files above), and
# each kind's draft must pass `tabulon-check --kind 1:V -f` on the file.

def make_kinds_file(seed: int, path: Path) -> tuple[str, list[int]]:
    """Writes a file of several kinds; returns its shape and the data records' widths."""
    rng = random.Random(seed)

    def fill(value: bytes, width: int) -> bytes:
        return fit(value, width).ljust(width, b" ")

    fields = [rng.choices(MAKERS, WEIGHTS)[0](rng) for _ in range(rng.randint(5, 12))]
    body_records = rng.choice([20, 200, 2000])
    shape = rng.choice(["bank", "around"])
    rows = [b"".join(make(rng) for _, make in fields) for _ in range(body_records)]
    length = len(rows[0])
    if shape == "bank":
        rows = [b"2" + r for r in rows]
        header = b"1210" + b"%010d" % rng.randint(0, 10**10 - 1) + fill(cp("ｶ)ﾀﾌﾞﾛﾝ"), 40)
        rows.insert(0, fill(header + b"1209", length + 1))
        rows.append(fill(b"8%06d%012d" % (body_records, rng.randint(0, 10**12 - 1)), length + 1))
        rows.append(fill(b"9", length + 1))
        widths = [1] + [w for w, _ in fields]
    else:
        rows.insert(0, fill(b"HDR" + b"%08d" % 20241209 + b"EXPORT", length + 7))
        rows.append(fill(b"TRL%08d" % body_records, length - 3))
        widths = [w for w, _ in fields]
    path.write_bytes(b"".join(r + b"\r\n" for r in rows))
    return shape, widths


def score_kinds(run: list[str], seeds: list[int], work: Path, verbose: bool) -> None:
    found = passed = hits = drafted = true_total = claimed = 0
    for seed in seeds:
        data = work / f"kinds{seed}.txt"
        shape, widths = make_kinds_file(seed, data)
        result = subprocess.run(run + ["--draft", str(data)], capture_output=True)
        marker = cp("# レコードに") + (b"4" if shape == "bank" else b"3")
        ok = result.returncode == 0 and marker in result.stdout
        found += ok
        claimed += NAMES_ROW in result.stdout
        got = boundaries(drafted_widths(result.stdout)) if ok else set()
        want = boundaries(widths)
        hits += len(got & want)
        drafted += len(got)
        true_total += len(want)
        checks = 0
        for value in ("2", "1", "8", "9") if shape == "bank" else ():
            draft = work / f"kinds{seed}_{value}.params"
            draft.write_bytes(subprocess.run(run + ["--draft", "--kind", "1:" + value, str(data)],
                                             capture_output=True).stdout)
            check = subprocess.run(run + ["--kind", "1:" + value, "-f", str(draft), str(data)],
                                   capture_output=True)
            checks += check.returncode == 0
            draft.unlink()
        passed += checks == (4 if shape == "bank" else 0)
        if verbose:
            print(f"kinds seed {seed} ({shape}): found {ok} kinds checked {checks} "
                  f"missed {sorted(want - got)} extra {sorted(got - want)}")
        data.unlink()
    precision = hits / drafted if drafted else 0.0
    recall = hits / true_total if true_total else 0.0
    print(f"kinds files {len(seeds)}  kinds found {found}/{len(seeds)}  every kind's draft passes "
          f"--kind -f: {passed}/{len(seeds)}  data records: precision {precision:.3f}  "
          f"recall {recall:.3f}  names row claimed: {claimed}")


# Files whose first line is a row of the true field names (ASCII or kanji,
# each left-aligned in its field with a blank before the next one; a repeated
# name numbered, a name cut to the field's width that repeats another given
# none), over a body made as above. The draft must say line 1 is a
# names row, take the names, and draft the same boundaries as from the body
# alone; the check must say line 1 is a names row.

NAMES = {zero_code: ("CODE", "コード"), amount: ("AMOUNT", "金額"), date: ("DATE", "日付"),
         kanji_name: ("NAME", "氏名"), kana_name: ("KANA", "カナ氏名"),
         address: ("ADDRESS", "住所"), item_name: ("ITEM", "品名"), alnum_code: ("ID", "記号"),
         flag: ("F", "区"), postal: ("ZIP", "郵便番号"), phone: ("TEL", "電話番号"),
         filler: ("", "")}


def make_names_file(seed: int, path: Path, body_path: Path) -> tuple[list[int], list[bytes]]:
    """Writes the file of one seed with a names row, and its body alone; returns
    the true widths and the names the row gives each field (b"" for none)."""
    rng = random.Random(seed)
    makers = [rng.choices(MAKERS, WEIGHTS)[0] for _ in range(rng.randint(5, 14))]
    fields = [maker(rng) for maker in makers]
    kanji = rng.random() < 0.5
    names, seen, row = [], {}, b""
    for maker, (w, _) in zip(makers, fields):
        base = NAMES[maker][kanji]
        seen[base] = seen.get(base, 0) + 1
        text = base + (str(seen[base]) if seen[base] > 1 and base else "")
        name = fit(cp(text), w - 1)
        row += name.ljust(w, b" ")
        names.append(b"" if name in names else name)  # cut to the same name: none
    records = rng.choice([50, 200, 1000, 3000])
    ending = rng.choice([b"\r\n", b"\n"])
    body = b"".join(b"".join(make(rng) for _, make in fields) + ending for _ in range(records))
    body_path.write_bytes(body)
    path.write_bytes((row.rstrip() if rng.random() < 0.5 else row) + ending + body)
    return [w for w, _ in fields], names


def drafted_names(draft: bytes) -> list[bytes]:
    return [line.split(b",", 3)[3] for line in draft.split(b"\r\n")
            if line and not line.startswith(b"#")]


def score_names(run: list[str], seeds: list[int], work: Path, verbose: bool) -> None:
    found = same = checked = right = named = 0
    for seed in seeds:
        data, body = work / f"names{seed}.txt", work / f"names{seed}_body.txt"
        widths, names = make_names_file(seed, data, body)
        draft = subprocess.run(run + ["--draft", str(data)], capture_output=True).stdout
        alone = subprocess.run(run + ["--draft", str(body)], capture_output=True).stdout
        found += NAMES_ROW in draft
        same += drafted_widths(draft) == drafted_widths(alone)
        params = work / f"names{seed}.params"
        params.write_bytes(draft)
        check = subprocess.run(run + ["-f", str(params), str(data)], capture_output=True)
        checked += CHECK_NAMES_ROW in check.stdout
        # The names of the fields drafted with their true span; where the row
        # gives none, the draft's own 項目n.
        spans = {}
        at = 0
        for w, name in zip(widths, names):
            spans[(at, at + w)] = name
            at += w
        at = 0
        got_names = drafted_names(draft)
        for i, w in enumerate(drafted_widths(draft)):
            want = spans.get((at, at + w))
            at += w
            if want is None or i >= len(got_names):
                continue
            named += 1
            right += got_names[i] == (want or cp(f"項目{i + 1}"))
        if verbose:
            print(f"names seed {seed}: found {NAMES_ROW in draft} same boundaries "
                  f"{drafted_widths(draft) == drafted_widths(alone)} check says "
                  f"{CHECK_NAMES_ROW in check.stdout}")
        for f in (data, body, params):
            f.unlink()
    print(f"names-row files {len(seeds)}  names row found {found}/{len(seeds)}  boundaries as "
          f"without the row {same}/{len(seeds)}  names right {right}/{named} (fields drafted "
          f"whole)  check says line 1 is names {checked}/{len(seeds)}")


def parse_seeds(text: str) -> list[int]:
    seeds = []
    for part in text.split(","):
        lo, _, hi = part.partition("-")
        seeds += range(int(lo), int(hi or lo) + 1)
    return seeds


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--check", required=True, help="the tabulon-check program")
    parser.add_argument("--wrapper", default="", help="a command to run it with (wine)")
    parser.add_argument("--seeds", default="1-30")
    parser.add_argument("--keep", help="keep the files and drafts in this directory")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--kinds-seeds", default="", help="files of several kinds to score too")
    parser.add_argument("--names-seeds", default="", help="files with a names row to score too")
    args = parser.parse_args()
    run = args.wrapper.split() + [args.check]
    work = Path(args.keep) if args.keep else Path(tempfile.mkdtemp())
    work.mkdir(parents=True, exist_ok=True)
    hits = drafted = true_total = passed = claimed = 0
    seeds = parse_seeds(args.seeds)
    for seed in seeds:
        data = work / f"gen{seed}.txt"
        widths = make_file(seed, data)
        result = subprocess.run(run + ["--draft", str(data)], capture_output=True)
        draft = work / f"gen{seed}.params"
        draft.write_bytes(result.stdout)
        got = boundaries(drafted_widths(result.stdout)) if result.returncode == 0 else set()
        want = boundaries(widths)
        check = subprocess.run(run + ["-f", str(draft), str(data)], capture_output=True)
        passed += result.returncode == 0 and check.returncode == 0
        claimed += NAMES_ROW in result.stdout
        hits += len(got & want)
        drafted += len(got)
        true_total += len(want)
        if args.verbose:
            print(f"seed {seed}: exit {result.returncode}/{check.returncode} "
                  f"true {sorted(want)} drafted {sorted(got)} "
                  f"missed {sorted(want - got)} extra {sorted(got - want)}")
        if not args.keep:
            data.unlink()
            draft.unlink()
    precision = hits / drafted if drafted else 0.0
    recall = hits / true_total if true_total else 0.0
    print(f"files {len(seeds)}  boundaries {true_total} true, {drafted} drafted, {hits} right  "
          f"precision {precision:.3f}  recall {recall:.3f}  check exit 0: {passed}/{len(seeds)}  "
          f"names row claimed: {claimed}")
    if args.kinds_seeds:
        score_kinds(run, parse_seeds(args.kinds_seeds), work, args.verbose)
    if args.names_seeds:
        score_names(run, parse_seeds(args.names_seeds), work, args.verbose)
    return 0


if __name__ == "__main__":
    sys.exit(main())
