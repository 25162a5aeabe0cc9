"""The study report: results/report.html and results/summary.xlsx, made from a run record.

Both are built from the run record alone (the dictionary of results/run_record.json), so
that a run split over several workers can produce them once their records are merged.

report.html is one self-contained page: inline style, plots embedded as SVG, no script and
nothing fetched, so it opens offline and can be mailed as it is. Links to the saved cases
are relative to the page's folder.
"""
import html
import io
import os

import pandas as pd

from gridfold.files import written_whole

REPORT_FILE = "report.html"
SUMMARY_XLSX = "summary.xlsx"

#: Colour class of each outcome; outcomes not listed (partial solves) are "partial".
_OUTCOME_CLASS = {
    "fully solved": "good",
    "not solved": "bad",
    "islanded": "bad",
    "base case unsolved": "bad",
    "error": "bad",
    "not run": "idle",
}

SUMMARY_COLUMNS = (
    "main_case", "small_case", "connecting_bus", "outcome", "connections_solved", "connections_total",
    "elements_accepted", "elements_refused", "dispatch_solved", "cb_voltage_before_pu", "cb_voltage_after_pu",
    "plant_mw", "plant_mvar", "max_loading_before_pct", "max_loading_after_pct", "voltage_violations",
    "results_folder",
)


def outcome_class(outcome):
    if outcome in _OUTCOME_CLASS:
        return _OUTCOME_CLASS[outcome]
    if outcome.startswith("solved, "):
        return "warn"
    return "partial"


def _dispatch(pair):
    return pair.get("dispatch_check") or {}


def summary_frame(record):
    """One row per (main case, small case) pair, in run order."""
    rows = []
    for pair in record.get("pairs", []):
        elements = pair.get("elements") or {}
        dispatch = _dispatch(pair)
        rows.append({
            "main_case": pair["main_case"],
            "small_case": pair["small_case"],
            "connecting_bus": pair.get("connecting_bus"),
            "outcome": pair.get("outcome"),
            "connections_solved": pair.get("connections_solved"),
            "connections_total": pair.get("connections_total"),
            "elements_accepted": sum((elements.get("accepted") or {}).values()),
            "elements_refused": len(elements.get("refused") or []),
            "dispatch_solved": dispatch.get("solved") if dispatch else None,
            "cb_voltage_before_pu": dispatch.get("connecting_bus_voltage_before_pu"),
            "cb_voltage_after_pu": dispatch.get("connecting_bus_voltage_after_pu"),
            "plant_mw": dispatch.get("plant_mw_into_connecting_bus"),
            "plant_mvar": dispatch.get("plant_mvar_into_connecting_bus"),
            "max_loading_before_pct": dispatch.get("max_loading_before_pct"),
            "max_loading_after_pct": dispatch.get("max_loading_after_pct"),
            "voltage_violations": len(dispatch["voltage_violations"]) if "voltage_violations" in dispatch else None,
            "results_folder": pair.get("results_folder"),
        })
    return pd.DataFrame(rows, columns=list(SUMMARY_COLUMNS))


def _sheet_name(name, taken):
    """An Excel sheet name: at most 31 characters, none of []:*?/\\, unique in the book."""
    clean = "".join("_" if c in "[]:*?/\\" else c for c in str(name))[:31] or "sheet"
    candidate, number = clean, 2
    while candidate.lower() in taken:
        suffix = f"~{number}"
        candidate, number = clean[:31 - len(suffix)] + suffix, number + 1
    taken.add(candidate.lower())
    return candidate


def write_summary_xlsx(record, path):
    """The summary sheet, then one sheet per main case with its pairs; written whole."""
    frame = summary_frame(record)
    taken = {"summary"}
    with written_whole(path, suffix=".xlsx") as temporary:
        with pd.ExcelWriter(temporary, engine="openpyxl") as writer:
            frame.to_excel(writer, sheet_name="summary", index=False)
            for main in record.get("main_cases", []):
                rows = frame[frame["main_case"] == main["name"]]
                rows.to_excel(writer, sheet_name=_sheet_name(main["name"], taken), index=False)
            for sheet in writer.sheets.values():
                for column in sheet.columns:
                    width = max(len(str(cell.value)) if cell.value is not None else 0 for cell in column)
                    sheet.column_dimensions[column[0].column_letter].width = min(max(width + 2, 8), 60)
    return path


# --------------------------------------------------------------------------- plots

def _svg(figure):
    import matplotlib.pyplot as plt

    buffer = io.StringIO()
    figure.savefig(buffer, format="svg", bbox_inches="tight")
    plt.close(figure)
    text = buffer.getvalue()
    return text[text.index("<svg"):]


def _plot_settings():
    import matplotlib

    matplotlib.use("Agg", force=False)
    import matplotlib.pyplot as plt

    # Text stays text (smaller, searchable); a fixed salt keeps the SVG the same between runs.
    plt.rcParams.update({"svg.fonttype": "none", "svg.hashsalt": "gridfold", "font.size": 9})
    return plt


def connection_voltage_plot(pair):
    """Voltage of the connecting bus and each plant bus after each connection came back."""
    data = pair.get("connection_voltages") or {}
    steps = data.get("steps") or []
    if not steps:
        return None
    plt = _plot_settings()
    figure, axes = plt.subplots(figsize=(5.2, 2.9))
    xs = [step["step"] for step in steps]
    for column, bus in enumerate(data["buses"]):
        ys = [step["vm_pu"][column] for step in steps]
        if all(y is None for y in ys):
            continue
        ys = [float("nan") if y is None else y for y in ys]
        style = dict(linewidth=2.2, color="black") if column == 0 else dict(linewidth=1.2)
        label = f"{bus} (connecting)" if column == 0 else str(bus)
        axes.plot(xs, ys, marker="o", markersize=3, label=label, **style)
    total = pair.get("connections_total")
    if total and total > xs[-1]:
        axes.axvline(xs[-1] + 1, color="#c0392b", linestyle="--", linewidth=1)
        axes.text(xs[-1] + 1, axes.get_ylim()[1], " failed", color="#c0392b", va="top")
    axes.set_xlabel("connections brought back")
    axes.set_ylabel("voltage (pu)")
    axes.set_xticks(range(0, max(xs[-1], total or 0) + 1))
    axes.grid(alpha=0.3)
    axes.legend(fontsize=7, ncol=2, loc="best")
    axes.set_title("Plant bus voltages as each connection comes back")
    return _svg(figure)


def dispatch_voltage_plot(pair):
    """Voltage at and near the connecting bus before the plant and at full output."""
    buses = _dispatch(pair).get("buses_near") or []
    if not buses:
        return None
    plt = _plot_settings()
    buses = sorted(buses, key=lambda b: (b["distance"], b["bus"]))
    figure, axes = plt.subplots(figsize=(max(4.0, 0.45 * len(buses) + 1.5), 3.0))
    xs = range(len(buses))
    nan = float("nan")
    before = [nan if b["vm_before_pu"] is None else b["vm_before_pu"] for b in buses]
    after = [nan if b["vm_after_pu"] is None else b["vm_after_pu"] for b in buses]
    axes.plot(xs, before, "o", markersize=9, markerfacecolor="none", color="#566573", label="before the plant")
    axes.plot(xs, after, "D", markersize=4, color="#2471a3", label="plant at full output")
    for x, b in zip(xs, buses):
        if b.get("nvlo_pu") is not None and b.get("nvhi_pu") is not None:
            axes.plot([x, x], [b["nvlo_pu"], b["nvhi_pu"]], color="#d5d8dc", linewidth=6, zorder=0)
    axes.set_xticks(list(xs))
    axes.set_xticklabels([f"{b['bus']}\n({b['distance']})" for b in buses], fontsize=7)
    axes.set_xlabel("bus (buses from the connecting bus); grey bars: normal voltage limits")
    axes.set_ylabel("voltage (pu)")
    axes.grid(axis="y", alpha=0.3)
    axes.legend(fontsize=7, loc="best")
    axes.set_title("Voltage near the connecting bus")
    return _svg(figure)


# --------------------------------------------------------------------------- page

_STYLE = """
body{font-family:system-ui,-apple-system,'Segoe UI',Helvetica,Arial,sans-serif;margin:2em auto;max-width:72em;
color:#1c2833;padding:0 1em}
h1{font-size:1.6em;margin-bottom:.2em}h2{font-size:1.25em;margin-top:2em;border-bottom:2px solid #d5d8dc}
h3{font-size:1.05em;margin-bottom:.3em}.meta{color:#566573;font-size:.9em}
table{border-collapse:collapse;margin:.5em 0 1em;font-size:.9em}
th,td{border:1px solid #d5d8dc;padding:.25em .6em;text-align:left;vertical-align:top}
th{background:#f4f6f7}td.num{text-align:right;font-variant-numeric:tabular-nums}
.outcome{padding:.1em .5em;border-radius:.8em;white-space:nowrap;font-weight:600}
.good{background:#d4efdf;color:#145a32}.warn{background:#fcf3cf;color:#7d6608}
.partial{background:#fae5d3;color:#873600}.bad{background:#f5b7b1;color:#78281f}.idle{background:#eaecee;color:#566573}
.plant{border:1px solid #d5d8dc;border-radius:.4em;padding:0 1em 1em;margin:1.2em 0}
.plots{display:flex;flex-wrap:wrap;gap:1em}.plots figure{margin:0}.plots svg{max-width:100%;height:auto}
.step-ok{color:#145a32}.step-failed{color:#78281f;font-weight:600}.step-idle{color:#909497}
details{margin:.4em 0}summary{cursor:pointer;color:#1f618d}
"""


def _e(value):
    return html.escape("" if value is None else str(value))


def _number(value, digits=3, suffix=""):
    if value is None:
        return "-"
    return f"{value:.{digits}f}{suffix}"


def _link(path, folder, text=None):
    """A link to a file relative to the page; the name alone when the file is gone."""
    if not path:
        return "-"
    if os.path.isabs(path) and not os.path.exists(path):
        return _e(text or os.path.basename(path))
    target = os.path.relpath(path, folder) if folder and os.path.isabs(path) else path
    href = target.replace(os.sep, "/")
    return f'<a href="{_e(href)}">{_e(text or os.path.basename(path))}</a>'


def _shown(path, folder):
    """A path as the reader of the page finds it: relative to the page's folder when below it."""
    if not path or not folder or not os.path.isabs(path):
        return path
    relative = os.path.relpath(path, folder)
    return path if relative.startswith(os.pardir) else relative


def _row(*cells):
    """A table row of data cells: each cell is its HTML, or (HTML, class)."""
    return "<tr>" + "".join(f"<td class={cell[1]}>{cell[0]}</td>" if isinstance(cell, tuple) else f"<td>{cell}</td>"
                            for cell in cells) + "</tr>"


def _num(html):
    """A cell of figures, right-aligned."""
    return html, "num"


def _anchor(pair):
    return _e(f"{pair['main_case']}--{pair['small_case']}")


# The dispatch figures of the summary table: record key, digits, unit.
_SUMMARY_FIGURES = (
    ("connecting_bus_voltage_before_pu", 4, ""),
    ("connecting_bus_voltage_after_pu", 4, ""),
    ("plant_mw_into_connecting_bus", 1, ""),
    ("max_loading_after_pct", 1, " %"),
)


def _summary_table(record):
    lines = ["<table><tr><th>main case</th><th>small case</th><th>bus</th><th>outcome</th>"
             "<th>connections</th><th>refused</th><th>V before</th><th>V full output</th><th>plant MW</th>"
             "<th>max loading after</th></tr>"]
    for pair in record.get("pairs", []):
        dispatch = _dispatch(pair)
        solved, total = pair.get("connections_solved"), pair.get("connections_total")
        connections = "-" if solved is None else f"{solved} of {total}" if total is not None else str(solved)
        refused = len((pair.get("elements") or {}).get("refused") or [])
        lines.append(_row(
            _e(pair["main_case"]), f"<a href=\"#{_anchor(pair)}\">{_e(pair['small_case'])}</a>",
            _num(_e(pair.get("connecting_bus"))),
            f"<span class=\"outcome {outcome_class(pair.get('outcome', ''))}\">{_e(pair.get('outcome'))}</span>",
            connections, _num(refused),
            *(_num(_number(dispatch.get(key), digits, suffix)) for key, digits, suffix in _SUMMARY_FIGURES)))
    lines.append("</table>")
    return "\n".join(lines)


def _connections_section(pair, folder):
    connections = pair.get("connections") or []
    outcome = pair.get("outcome", "")
    if not connections:
        if outcome == "base case unsolved":
            return "<p>The base case did not solve with the plant out of service: no connection was tried.</p>"
        return "<p>No connections to bring back.</p>" if outcome == "fully solved" else ""
    rows = ["<table><tr><th>#</th><th>buses</th><th>circuit</th><th>result</th><th>saved case</th></tr>"]
    failed_seen = False
    for connection in connections:
        if connection.get("solved"):
            state, cls = "solved", "step-ok"
        elif not failed_seen:
            state, cls, failed_seen = "failed: the run stopped here", "step-failed", True
        else:
            state, cls = "not tried", "step-idle"
        buses = connection.get("buses") or [connection.get(k) for k in ("from_bus", "to_bus", "third_bus")]
        rows.append(_row(_num(_e(connection.get("index"))), _e(" - ".join(str(b) for b in buses if b is not None)),
                         _e(connection.get("id")), (_e(state), cls), _link(connection.get("saved_case"), folder)))
    rows.append("</table>")
    return "\n".join(rows)


def _dispatch_section(pair, folder):
    dispatch = _dispatch(pair)
    if not dispatch:
        return ""
    if dispatch.get("error"):
        return f"<h3>Plant at full output</h3><p class=bad>The check could not run: {_e(dispatch['error'])}</p>"
    solved = dispatch.get("solved")
    verdict = ('<span class="outcome good">solved</span>' if solved
               else '<span class="outcome bad">did not solve</span>')
    violations = dispatch.get("voltage_violations") or []
    figures = [
        ("solution at full output", verdict),
        ("machines in service", _e(len(dispatch.get("machines") or [])) + f" ({_number(dispatch.get('scheduled_mw'), 1)} MW scheduled)"),
        ("connecting bus voltage before the plant", _number(dispatch.get("connecting_bus_voltage_before_pu"), 4, " pu")),
        ("connecting bus voltage at full output", _number(dispatch.get("connecting_bus_voltage_after_pu"), 4, " pu")),
        ("plant into the connecting bus", f"{_number(dispatch.get('plant_mw_into_connecting_bus'), 1, ' MW')}, "
                                          f"{_number(dispatch.get('plant_mvar_into_connecting_bus'), 1, ' Mvar')}"),
        ("largest loading within two buses, before", f"{_number(dispatch.get('max_loading_before_pct'), 1, ' %')} "
                                                     f"{_e(dispatch.get('max_loading_before_branch') or '')}"),
        ("largest loading within two buses, full output", f"{_number(dispatch.get('max_loading_after_pct'), 1, ' %')} "
                                                          f"{_e(dispatch.get('max_loading_after_branch') or '')}"),
        ("branches within two buses", f"{len(dispatch.get('branches_near') or [])}, of which "
                                      f"{_e(dispatch.get('branches_without_rate1', 0))} without RATE1 (not counted)"),
        ("buses outside their normal limits", str(len(violations)) if solved else "-"),
        ("dispatched case", _link(dispatch.get("dispatched_case"), folder)),
    ]
    parts = ["<h3>Plant at full output</h3><table>"]
    parts += [f"<tr><th>{_e(name)}</th><td>{value}</td></tr>" for name, value in figures]
    parts.append("</table>")
    if violations:
        parts.append("<table><tr><th>bus</th><th>voltage</th><th>normal limits</th></tr>")
        parts += [_row(_e(v["bus"]), _num(_number(v.get("vm_after_pu"), 4)),
                       f"{_number(v.get('nvlo_pu'), 3)} to {_number(v.get('nvhi_pu'), 3)}") for v in violations]
        parts.append("</table>")
    branches = dispatch.get("branches_near") or []
    if branches:
        parts.append(f"<details><summary>loadings of the {len(branches)} branches within two buses</summary><table>"
                     "<tr><th>branch</th><th>before</th><th>full output</th></tr>")
        parts += [_row(_e(b["branch"]), _num(_number(b.get("loading_before_pct"), 1, " %")),
                       _num(_number(b.get("loading_after_pct"), 1, " %"))) for b in branches]
        parts.append("</table></details>")
    return "\n".join(parts)


def _refused_section(pair):
    elements = pair.get("elements") or {}
    refused = elements.get("refused") or []
    accepted = elements.get("accepted") or {}
    parts = []
    if accepted:
        parts.append("<p>Accepted: " + ", ".join(f"{_e(count)} {_e(kind.replace('_', ' '))}"
                                                 for kind, count in accepted.items() if count) + "</p>")
    if refused:
        parts.append("<h3>Refused elements</h3><table><tr><th>kind</th><th>element</th><th>engine code</th></tr>")
        parts += [_row(_e(r.get("kind")), _e(" ".join(str(i) for i in r.get("ids") or [])), _num(_e(r.get("code"))))
                  for r in refused]
        parts.append("</table>")
    return "\n".join(parts)


def _renumber_section(pair):
    renumbered = pair.get("renumbered") or {}
    if not renumbered:
        return "<p>No bus was renumbered.</p>"
    rows = "".join(_row(_num(_e(old)), _num(_e(new))) for old, new in renumbered.items())
    return (f"<details><summary>{len(renumbered)} buses renumbered</summary>"
            f"<table><tr><th>small case bus</th><th>new number</th></tr>{rows}</table></details>")


def _files_section(pair, folder):
    files = list(pair.get("saved_cases") or [])
    for key in ("status_report", "unsolved_log"):
        if pair.get(key):
            files.append(pair[key])
    dispatched = _dispatch(pair).get("dispatched_case")
    if dispatched and dispatched not in files:
        files.append(dispatched)
    present = [path for path in files if os.path.exists(path)]
    if not present:
        return ""
    links = " &middot; ".join(_link(path, folder) for path in present)
    return f"<details><summary>{len(present)} files</summary><p>{links}</p></details>"


def _plant_section(pair, folder):
    outcome = pair.get("outcome", "")
    parts = [f"<section class=plant id=\"{_anchor(pair)}\">",
             f"<h2>{_e(pair['small_case'])} in {_e(pair['main_case'])} "
             f"<span class=\"outcome {outcome_class(outcome)}\">{_e(outcome)}</span></h2>",
             f"<p class=meta>connecting bus {_e(pair.get('connecting_bus'))} &middot; results folder "
             f"{_link(pair.get('results_folder'), folder, _shown(pair.get('results_folder'), folder))}</p>",
             "<h3>Connections, from the connecting bus outwards</h3>",
             _connections_section(pair, folder),
             _dispatch_section(pair, folder)]
    plots = [svg for svg in (connection_voltage_plot(pair), dispatch_voltage_plot(pair)) if svg]
    if plots:
        parts.append("<div class=plots>" + "".join(f"<figure>{svg}</figure>" for svg in plots) + "</div>")
    parts += [_refused_section(pair), _renumber_section(pair), _files_section(pair, folder), "</section>"]
    return "\n".join(part for part in parts if part)


def report_html(record, folder=None):
    """The whole page as text; links are made relative to `folder`."""
    pairs = record.get("pairs", [])
    counts = {}
    for pair in pairs:
        cls = outcome_class(pair.get("outcome", ""))
        counts[cls] = counts.get(cls, 0) + 1
    title = f"gridfold study: {os.path.basename(record.get('workbook') or 'study')}"
    meta = (f"Main cases: {len(record.get('main_cases', []))}; plant runs: {len(pairs)}, "
            f"{counts.get('good', 0)} fully solved. Run {_e(record.get('started'))} to {_e(record.get('finished'))} "
            f"({_number(record.get('seconds'), 1, ' s')}), engine {_e(record.get('engine'))}, "
            f"gridfold {_e(record.get('gridfold_version'))}.")
    main_rows = "".join(
        _row(_e(m.get("name")),
             "solved" if m.get("base_case_solved") else "not solved" if m.get("base_case_solved") is False else "-",
             _link(m.get("solved_case"), folder), _e(m.get("error") or ""))
        for m in record.get("main_cases", []))
    body = [f"<h1>{_e(title)}</h1>", f"<p class=meta>{meta}</p>",
            "<h2>Summary</h2>", _summary_table(record),
            "<table><tr><th>main case</th><th>base case</th><th>final solved case</th><th>error</th></tr>"
            f"{main_rows}</table>"]
    body += [_plant_section(pair, folder) for pair in pairs]
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            f"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>{_e(title)}</title>"
            f"<style>{_STYLE}</style></head><body>\n" + "\n".join(body) + "\n</body></html>\n")


def write_report(record, folder):
    """Write report.html and summary.xlsx into `folder` from a run record; returns both paths."""
    os.makedirs(folder, exist_ok=True)
    html_path = os.path.join(folder, REPORT_FILE)
    page = report_html(record, os.path.abspath(folder))
    with written_whole(html_path) as temporary:
        with open(temporary, "w", encoding="utf-8") as stream:
            stream.write(page)
    xlsx_path = write_summary_xlsx(record, os.path.join(folder, SUMMARY_XLSX))
    return html_path, xlsx_path
