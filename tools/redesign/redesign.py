#!/usr/bin/env python3
"""One-off: moves the tree to the feature layout and renames the Delphi/Portuguese identifiers.

Run from a checkout root through rename.sh. Every step checks what is already done, so a second
run (or a run after a partly failed one) does only what is left. Nothing inside a string or
character literal is ever changed: those are what the operator and the stored files see.
"""
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import cxxtok  # noqa: E402

CODE_ROOTS = ["src", "tests", "bench", "fuzz", "tools"]
CODE_EXT = (".cpp", ".h")
DOCS = ["README.md", "docs/ARCHITECTURE.md", "docs/FAULTS.md"]
PATH_ONLY_DOCS = ["docs/USER_GUIDE.md"]
SCRIPTS = ["scripts", ".ci"]

# Folder moves; files keep their names unless the name map renames the stem.
FOLDER_MOVES = [("src/test", "src/run"), ("tests/test", "tests/run")]
# Folders split by file: (folder, {stem prefix: destination}, default destination).
FOLDER_SPLITS = [
    ("src/screens", {"PlateFinder": "src/discovery", "TfrmConfCOM": "src/discovery",
                     "TfrmFrequencia": "src/frequency"}, "src/discovery"),
    ("tests/screens", {"PlateFinder": "tests/discovery", "TfrmConfCOM": "tests/discovery",
                       "FrequencyScreen": "tests/frequency", "TfrmFrequencia": "tests/frequency"},
     "tests/discovery"),
]
# The CMake folder lists (a word in the foreach lists of the top-level and tests/ CMakeLists).
FOLDER_LIST_WORDS = {"src/test": "src/run", "src/screens": "src/discovery src/frequency",
                     "test": "run", "screens": "discovery frequency"}
TARGETS = {"kelvaro_testrun": "kelvaro_run", "testrun_test": "run_test",
           "kelvaro_comm_screen": "kelvaro_communication_screen",
           "comm_screen_test": "communication_screen_test"}

# The split of the device link's catch-all header, by its section banners.
DEVICE_OLD_H = "src/device/untFuncoes.h"
DEVICE_OLD_CPP = "src/device/untFuncoes.cpp"
DEVICE_SECTIONS = {
    # banner: (module, header comment, project headers it needs)
    "Frames": ("Frame", "The plates' frame: its bytes, its checksum and the reading it carries.",
               []),
    "Link errors": ("Link", "The device link: validated request/reply transactions and stream "
                    "resynchronisation on a serial\n// channel, and the link's error codes and "
                    "texts. Nothing here throws to its callers.",
                    ["device/Frame.h", "device/SerialChannel.h"]),
    "Transactions": ("Link", None, None),
    "Channel slots": ("ChannelSlot", "Opening, closing and purging the channel a plate slot "
                      "holds, with the plates' line settings.",
                      ["device/SerialChannel.h"]),
    "Port list": ("PortList", "The serial ports a plate can hang on, under stable names, and "
                  "the names the operator sees.", []),
    "Command set": ("PlateCommands", "The plate command set: the prebuilt requests, Configure, "
                    "and one transaction per command.", ["device/Link.h"]),
}
SYSTEM_HEADER_USES = {
    "<array>": "std::array", "<cstdint>": "std::uint", "<span>": "std::span",
    "<string>": re.compile(r"std::string\b(?!_view)"), "<string_view>": "std::string_view",
    "<vector>": "std::vector", "<cstddef>": "std::size_t",
}

# What the leftover check looks for in code identifiers.
LEFTOVER = re.compile(
    r"^(Tfrm|frm[A-Z]|bt[A-Z]|cb[A-Z]|cp[A-Z]|lb[A-Z]|lsb[A-Z]|pn[A-Z]|pb[A-Z]|tm[A-Z]|Form[A-Z])"
    r"|Placa|placa|Porta|Amostra|Frequencia|frequencia|Teste|teste|Leitura|Carga|Tara|Zerar"
    r"|Calibra[cr]|Iniciar|Parar|Voltar|Fechar|Busca|Falha|falha|Lista|Editar|Habilitar"
    r"|Desenhar|Limpar|Exportar|Procurar|Rodando|Encontrad|Selecionad|Configurar|Comunicacao"
    r"|Salvar|Principal|Centro|Topo|Barra|untFuncoes")


def log(message):
    print(f"redesign: {message}", flush=True)


def git(*args, check=True):
    return subprocess.run(["git", *args], check=check, text=True, capture_output=True).stdout


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def write(path, text):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def tracked(*roots):
    return [p for p in git("ls-files", "--", *roots).split() if os.path.exists(p)]


def code_files():
    return [p for p in tracked(*CODE_ROOTS) if p.endswith(CODE_EXT)]


def load_names(path):
    names = {}
    for number, line in enumerate(read(path).splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        parts = line.split("\t")
        if len(parts) != 2 or not all(re.fullmatch(r"[A-Za-z_]\w*", p) for p in parts):
            sys.exit(f"{path}:{number}: expected old<TAB>new identifiers: {line!r}")
        if parts[0] in names:
            sys.exit(f"{path}:{number}: {parts[0]} is mapped twice")
        names[parts[0]] = parts[1]
    return names


def prose_safe(name):
    """A name that cannot be an operator's word in a sentence."""
    return bool(re.search(r"[a-z][A-Z]|_|\d", name)) or bool(
        re.match(r"(Tfrm|frm|bt|cb|cp|lb|lsb|pn|pb|tm)[A-Z]", name))


def live_names(names, identifiers):
    """Drops an entry whose old name is another entry's new name once that other entry is done:
    `A -> B, B -> c` renames B only while A is still in the tree, so a second run leaves B."""
    new_values = {}
    for old, new in names.items():
        new_values.setdefault(new, []).append(old)
    live = {}
    for old, new in names.items():
        sources = new_values.get(old, [])
        if sources and not any(s in identifiers for s in sources):
            continue
        live[old] = new
    return live


# ---- Step 1: the device link's catch-all header and source, split by section -------------

def split_sections(text):
    """(preamble, [(banner, body)]) of a file cut at `// ---- Name ----` lines; the closing
    `}  // namespace kelvaro` is left out of the last body."""
    banner = re.compile(r"^// ---- (.+?) -+\s*$", re.M)
    marks = list(banner.finditer(text))
    preamble = text[: marks[0].start()] if marks else text
    sections = []
    for i, m in enumerate(marks):
        end = marks[i + 1].start() if i + 1 < len(marks) else len(text)
        body = text[m.end(): end]
        if i + 1 == len(marks):
            body = re.sub(r"\n\}\s*// namespace kelvaro\s*$", "\n", body)
        sections.append((m.group(1).strip(), body.strip("\n")))
    return preamble, sections


def system_includes(text):
    return re.findall(r"^#include (<[^>]+>)", text, re.M)


def needed_system_includes(candidates, body):
    out = []
    for inc in candidates:
        use = SYSTEM_HEADER_USES.get(inc)
        if use is None:
            out.append(inc)
        elif (use.search(body) if hasattr(use, "search") else use in body):
            out.append(inc)
    return sorted(set(out))


def declared_names(body):
    """Names a header section declares: types, constants, enumerators and free functions."""
    names = set()
    names.update(re.findall(r"^(?:struct|class|enum(?: class)?)\s+(\w+)", body, re.M))
    names.update(re.findall(r"^using\s+(\w+)\s*=", body, re.M))
    names.update(re.findall(r"^inline constexpr [^=;{(]*?\b(\w+)\s*[{=]", body, re.M))
    names.update(re.findall(r"^extern [^;]*?\b(\w+);", body, re.M))
    names.update(re.findall(r"^(?:inline\s+)?[\w:<>,*& ]+?[\s*&](\w+)\(", body, re.M))
    for enum_body in re.findall(r"^enum[^{;]*\{([^}]*)\}", body, re.M):
        names.update(re.findall(r"\b([A-Za-z_]\w*)\s*=", enum_body))
    names.discard("operator")
    return names


def top_level_chunks(body):
    """The top-level definitions of a namespace body, each with the comment lines above it."""
    chunks, current, depth = [], [], 0
    for line in body.splitlines():
        if depth == 0 and not current and not line.strip():
            continue
        current.append(line)
        code = "".join(p for k, p in cxxtok.pieces(line) if k not in ("comment", "literal"))
        depth += code.count("{") - code.count("}")
        if depth == 0 and code.rstrip().endswith(("}", ";")):
            chunks.append("\n".join(current))
            current = []
    if current:
        chunks.append("\n".join(current))
    return chunks


def defined_name(chunk):
    code = "\n".join(line for line in chunk.splitlines() if not line.startswith("//"))
    m = re.search(r"^[\w:<>,*& ]+?[\s*&](\w+)\s*[({]", code, re.M)
    return m.group(1) if m else None


def split_device():
    if not os.path.exists(DEVICE_OLD_H):
        log("device link already split")
        return {}
    header = read(DEVICE_OLD_H)
    source = read(DEVICE_OLD_CPP)
    h_pre, h_sections = split_sections(header)
    c_pre, c_sections = split_sections(source)
    unknown = {b for b, _ in h_sections + c_sections} - DEVICE_SECTIONS.keys()
    if unknown:
        sys.exit(f"{DEVICE_OLD_H}: sections with no module: {sorted(unknown)}; add them to "
                 "DEVICE_SECTIONS in tools/redesign/redesign.py")

    modules = {}  # module -> {"h": [bodies], "cpp": [bodies]}
    for banner, body in h_sections:
        modules.setdefault(DEVICE_SECTIONS[banner][0], {"h": [], "cpp": []})["h"].append(body)
    header_decl = {}
    for banner, body in h_sections:
        for name in declared_names(body):
            header_decl.setdefault(name, DEVICE_SECTIONS[banner][0])
    for banner, body in c_sections:
        # A definition goes where its declaration went, whatever section of the source it is in.
        for chunk in top_level_chunks(body):
            name = defined_name(chunk)
            module = header_decl.get(name, DEVICE_SECTIONS[banner][0])
            modules.setdefault(module, {"h": [], "cpp": []})["cpp"].append(chunk)
    commands_cpp = "src/device/Commands.cpp"
    if os.path.exists(commands_cpp):
        text = read(commands_cpp)
        modules.setdefault("PlateCommands", {"h": [], "cpp": []})["whole_cpp"] = text
    port_list_cpp = "src/device/PortList.cpp"

    h_system = system_includes(h_pre)
    c_system = system_includes(c_pre)
    # The anonymous namespace ahead of the first section goes with the one module using it.
    anon = re.search(r"namespace \{\n(.*?)\n\}  // namespace\n", c_pre, re.S)
    anon_text = anon.group(0) if anon else ""
    anon_names = set(re.findall(r"\b(?:g_\w+|k[A-Z]\w+|[A-Z]\w+(?=\())", anon_text))
    anon_home = [m for m, parts in modules.items()
                 if any(re.search(rf"\b{re.escape(n)}\b", b) for n in anon_names
                        for b in parts["cpp"])]
    if anon_text and len(anon_home) != 1:
        sys.exit(f"{DEVICE_OLD_CPP}: its file-local helpers are used by {anon_home}; move them "
                 "by hand")

    comments = {}
    deps = {}
    for banner, (module, comment, needs) in DEVICE_SECTIONS.items():
        if comment:
            comments[module] = comment
            deps[module] = needs
    declared = {}
    for module, parts in modules.items():
        body = "\n\n".join(parts["h"])
        declared[module] = declared_names(body)
        includes = [f"#include {i}" for i in needed_system_includes(h_system, body)]
        includes_project = [f'#include "{d}"' for d in deps[module]]
        text = f"// {comments[module]}\n#pragma once\n\n"
        if includes:
            text += "\n".join(includes) + "\n\n"
        if includes_project:
            text += "\n".join(includes_project) + "\n\n"
        text += f"namespace kelvaro {{\n\n{body}\n\n}}  // namespace kelvaro\n"
        write(f"src/device/{module}.h", text)
        if "whole_cpp" in parts:
            cpp = parts["whole_cpp"].replace('#include "device/untFuncoes.h"',
                                             f'#include "device/{module}.h"')
        elif module == "PortList":
            cpp = None
        elif parts["cpp"]:
            cbody = "\n\n".join(parts["cpp"])
            local = anon_text + "\n" if module in anon_home else ""
            sys_inc = "".join(f"#include {i}\n" for i in c_system)
            # The catch-all include stays as a placeholder: the include step puts the modules
            # the definitions use in its place.
            cpp = (f'#include "device/{module}.h"\n\n{sys_inc}\n#include "device/untFuncoes.h"\n\n'
                   f"namespace kelvaro {{\n\n{local}{cbody}\n\n}}  // namespace kelvaro\n")
        else:
            cpp = None
        if cpp is not None:
            write(f"src/device/{module}.cpp", cpp)

    git("rm", "-q", "--cached", DEVICE_OLD_H, DEVICE_OLD_CPP)
    os.remove(DEVICE_OLD_H)
    os.remove(DEVICE_OLD_CPP)
    if os.path.exists(commands_cpp):
        git("rm", "-q", commands_cpp)
    git("add", *[f"src/device/{m}{e}" for m in modules for e in (".h", ".cpp")
                 if os.path.exists(f"src/device/{m}{e}")])
    if os.path.exists(port_list_cpp):
        write(port_list_cpp, read(port_list_cpp).replace('#include "device/untFuncoes.h"',
                                                         '#include "device/PortList.h"'))
    cmake = "src/device/CMakeLists.txt"
    split_sources = " ".join(f"{m}.cpp" for m in ("Frame", "Link", "ChannelSlot")
                             if os.path.exists(f"src/device/{m}.cpp"))
    text = re.sub(r"\buntFuncoes\.cpp\b", split_sources, read(cmake))
    write(cmake, re.sub(r"\bCommands\.cpp\b", "PlateCommands.cpp", text))
    log(f"device link split into {', '.join(sorted(modules))}")
    return declared


def device_declarations():
    """The names each device module's header declares (for includes after the split)."""
    declared = {}
    for module in {m for m, *_ in DEVICE_SECTIONS.values()}:
        path = f"src/device/{module}.h"
        if os.path.exists(path):
            declared[module] = declared_names(read(path))
    return declared


def replace_catch_all_includes(declared):
    """Each file that included the catch-all header includes the modules whose names it uses."""
    old = '#include "device/untFuncoes.h"'
    declared = dict(declared)
    # The catch-all header brought the serial channel in too.
    declared["SerialChannel"] = declared_names(read("src/device/SerialChannel.h"))
    # Files that had the catch-all through another header now include what they use themselves.
    files = code_files()
    includes = {p: re.findall(r'^#include "([^"]+)"', read(p), re.M) for p in files}
    by_include = {}
    for p in files:
        for root in ("src/", "tools/", "tests/support/", os.path.dirname(p) + "/"):
            if p.startswith(root):
                by_include.setdefault(p[len(root):], p)
    reach = {p for p in files if "device/untFuncoes.h" in includes[p]}
    grew = True
    while grew:
        grew = False
        for p in files:
            if p not in reach and any(by_include.get(i) in reach for i in includes[p]):
                reach.add(p)
                grew = True
    for path in sorted(reach):
        text = read(path)
        module_file = path.startswith("src/device/") and os.path.splitext(
            os.path.basename(path))[0] in declared
        if old in text or module_file:
            continue
        used = set(cxxtok.identifiers(text))
        missing = [m for m, names in sorted(declared.items()) if used & names]
        if missing:
            add = "".join(f'#include "device/{m}.h"\n' for m in missing)
            last_project = list(re.finditer(r'^#include "[^"]+"\n', text, re.M))[-1]
            last_any = list(re.finditer(r"^#include .+\n", text, re.M))[-1]
            if last_any.start() > last_project.start():
                # Only the file's own header comes before the system headers: a new block.
                last_project, add = last_any, "\n" + add
            write(path, text[: last_project.end()] + add + text[last_project.end():])
    for path in files:
        text = read(path)
        if old not in text:
            continue
        used = set(cxxtok.identifiers(text))
        modules = sorted(m for m, names in declared.items() if used & names)
        own = os.path.splitext(os.path.basename(path))[0]
        modules = [m for m in modules if not (path.startswith("src/device/") and m == own)]
        if not modules and not path.startswith("src/device/"):
            modules = ["Link"]
        text = text.replace(old + ("\n" if not modules else ""),
                            "\n".join(f'#include "device/{m}.h"' for m in modules))
        write(path, text)


# ---- Step 2: files and folders ------------------------------------------------------------

def stem_rename(name, names):
    """A file named after a class follows the class (only names that stay types)."""
    names = {k: v for k, v in names.items() if v[0].isupper() and k[0].isupper()}
    stem, ext = os.path.splitext(name)
    parts = re.split(r"(_)", stem)
    return "".join(names.get(p, p) for p in parts) + ext


def plan_moves(names):
    moves = []
    for old_dir, new_dir in FOLDER_MOVES:
        for path in tracked(old_dir):
            moves.append((path, os.path.join(new_dir, os.path.relpath(path, old_dir))))
    for old_dir, routes, default in FOLDER_SPLITS:
        for path in tracked(old_dir):
            rel = os.path.relpath(path, old_dir)
            if rel == "CMakeLists.txt":
                continue
            dest = next((d for prefix, d in routes.items() if rel.startswith(prefix)), None)
            if dest is None:
                log(f"warning: {path} has no planned folder; it goes to {default}")
                dest = default
            moves.append((path, os.path.join(dest, rel)))
    planned = {old for old, _ in moves}
    for path in tracked(*CODE_ROOTS):
        if path not in planned and path.endswith(CODE_EXT):
            moves.append((path, path))
    out = []
    for old, new in moves:
        new = os.path.join(os.path.dirname(new), stem_rename(os.path.basename(new), names))
        if old != new:
            out.append((old, new))
    return out


def move_files(moves):
    for old, new in moves:
        os.makedirs(os.path.dirname(new), exist_ok=True)
        git("mv", old, new)
    if moves:
        log(f"moved {len(moves)} files")


def cmake_blocks(text):
    """The calls of a CMake file, each with the comment lines just above it; a call that names
    no source file (a property or a dependency) stays with the call before it."""
    blocks, pending, lines = [], [], text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("#"):
            pending.append(line)
            i += 1
            continue
        if not line.strip():
            pending = []
            i += 1
            continue
        call = [line]
        depth = line.count("(") - line.count(")")
        while depth > 0 and i + 1 < len(lines):
            i += 1
            call.append(lines[i])
            depth += lines[i].count("(") - lines[i].count(")")
        i += 1
        block = "\n".join(pending + call)
        pending = []
        if blocks and not re.search(r"\.(?:cpp|h)\b", "\n".join(call)):
            blocks[-1] += "\n" + block
        else:
            blocks.append(block)
    return blocks


def split_cmake(old_dir, moves):
    """Splits the CMakeLists of a split folder into its destinations' by call blocks."""
    path = os.path.join(old_dir, "CMakeLists.txt")
    if not os.path.exists(path):
        return
    text = read(path)
    blocks = cmake_blocks(text)
    dest_of = {os.path.basename(o): os.path.dirname(n) for o, n in moves
               if o.startswith(old_dir + "/")}
    by_dest = {}
    for block in blocks:
        sources = re.findall(r"[\w.+-]+\.(?:cpp|h)", block)
        dests = {dest_of[s] for s in sources if s in dest_of}
        if len(dests) != 1:
            sys.exit(f"{path}: cannot tell where this block goes:\n{block}")
        by_dest.setdefault(dests.pop(), []).append(block.strip("\n"))
    for dest, parts in by_dest.items():
        target = os.path.join(dest, "CMakeLists.txt")
        existing = read(target) + "\n" if os.path.exists(target) else ""
        write(target, existing + "\n\n".join(parts) + "\n")
        git("add", target)
    git("rm", "-q", path)
    log(f"{path} split into {', '.join(sorted(by_dest))}")


def move_folder_cmake():
    for old_dir, new_dir in FOLDER_MOVES:
        old = os.path.join(old_dir, "CMakeLists.txt")
        if os.path.exists(old):
            git("mv", old, os.path.join(new_dir, "CMakeLists.txt"))
        if os.path.isdir(old_dir) and not os.listdir(old_dir):
            os.rmdir(old_dir)


def update_cmake_lists(moves):
    base_map = {}
    for old, new in moves:
        if os.path.basename(old) != os.path.basename(new):
            base_map[os.path.basename(old)] = os.path.basename(new)
    for path in [p for p in tracked("CMakeLists.txt", *CODE_ROOTS)
                 if p.endswith("CMakeLists.txt")]:
        text = read(path)
        new = re.sub(r"[\w.+-]+\.(?:cpp|h)\b", lambda m: base_map.get(m.group(0), m.group(0)),
                     text)
        new = re.sub(r"\b\w+\b", lambda m: TARGETS.get(m.group(0), m.group(0)), new)

        def folders(m):
            words = m.group(2).split()
            out = []
            for w in words:
                for x in FOLDER_LIST_WORDS.get(w, w).split():
                    if x not in out:
                        out.append(x)
            return m.group(1) + " ".join(out)

        new = re.sub(r"(foreach\((?:dir|area) )([^)]*)", folders, new)
        if new != text:
            write(path, new)


# ---- Step 3: includes, identifiers, docs --------------------------------------------------

def update_includes(moves):
    inc_map = {}
    for old, new in moves:
        for root in ("src/", "tools/", "tests/support/"):
            if old.startswith(root) and new.startswith(root):
                inc_map[old[len(root):]] = new[len(root):]
        inc_map.setdefault(os.path.basename(old), os.path.basename(new))
    for path in code_files():
        text = read(path)
        new = re.sub(r'^(#include ")([^"]+)(")', lambda m: m.group(1) + inc_map.get(
            m.group(2), m.group(2)) + m.group(3), text, flags=re.M)
        if new != text:
            write(path, new)


def rename_identifiers(names):
    files = code_files()
    texts = {p: read(p) for p in files}
    present = set()
    for t in texts.values():
        present.update(cxxtok.identifiers(t))
    live = live_names(names, present)
    prose = {k: v for k, v in live.items() if prose_safe(k)}
    changed = 0
    for path, text in texts.items():
        new = cxxtok.rename_source(text, live, prose)
        if new != text:
            write(path, new)
            changed += 1
    log(f"identifiers renamed in {changed} files")
    return live


def path_map(moves):
    out = {}
    for old, new in moves:
        out[old] = new
    return out


def update_docs(moves, names):
    paths = path_map(moves)
    prose = {k: v for k, v in names.items() if prose_safe(k)}
    folder_words = {"src/test": "src/run", "tests/test": "tests/run"}
    files = [p for p in DOCS + PATH_ONLY_DOCS if os.path.exists(p)]
    files += [p for p in tracked(*SCRIPTS) if os.path.isfile(p)]
    for path in files:
        text = read(path)
        new = text
        for old, nw in sorted(paths.items(), key=lambda kv: -len(kv[0])):
            new = new.replace(old, nw)
        new = re.sub(r"\b(src/test|tests/test)\b(?!s)", lambda m: folder_words[m.group(1)], new)
        new = re.sub(r"\b\w+\b", lambda m: TARGETS.get(m.group(0), m.group(0)), new)
        if path in DOCS:
            lines = new.split("\n")
            for i, line in enumerate(lines):
                line = cxxtok.rename_prose(line, prose)
                for f in ("src/screens", "tests/screens"):
                    if f in line and re.search(r"PlateFinder|CommunicationScreen", line):
                        line = line.replace(f, f.replace("screens", "discovery"))
                    elif f in line and re.search(r"FrequencyScreen|[Ff]requency screen", line):
                        line = line.replace(f, f.replace("screens", "frequency"))
                lines[i] = line
            new = "\n".join(lines)
        if new != text:
            write(path, new)


def format_code():
    files = [p for p in code_files()]
    subprocess.run(["clang-format", "-i", *files], check=True)


def leftovers():
    found = {}
    for path in code_files():
        for ident in cxxtok.identifiers(read(path)):
            if LEFTOVER.search(ident):
                found.setdefault(ident, set()).add(path)
    for ident, paths in sorted(found.items()):
        log(f"leftover identifier {ident}: {', '.join(sorted(paths))}")
    for path in DOCS + PATH_ONLY_DOCS + [p for p in tracked(*SCRIPTS) if os.path.isfile(p)]:
        if not os.path.exists(path):
            continue
        for number, line in enumerate(read(path).splitlines(), 1):
            if re.search(r"untFuncoes|src/screens|tests/screens|Tfrm|\bsrc/test\b|"
                         r"\btests/test\b", line):
                log(f"to look at by hand: {path}:{number}: {line.strip()[:120]}")
    return found


def main():
    if not os.path.isdir(".git") and not os.path.isfile(".git"):
        sys.exit("run from the checkout root")
    names = load_names(os.environ.get("REDESIGN_NAMES", os.path.join(HERE, "names.tsv")))
    declared = split_device() or device_declarations()
    replace_catch_all_includes(declared)
    moves = plan_moves(names)
    move_files(moves)
    for old_dir, _, _ in FOLDER_SPLITS:
        split_cmake(old_dir, moves)
    move_folder_cmake()
    update_cmake_lists(moves)
    update_includes(moves)
    live = rename_identifiers(names)
    update_docs(moves, live)
    format_code()
    leftovers()


if __name__ == "__main__":
    main()
