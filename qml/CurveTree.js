.pragma library

// The curve window's tree of projects and curve packs, and where a dragged pack lands in it.
// Rows are maps {kind: "project" | "root" | "pack", ...}: a project row carries its name and its
// position in the bridge's list, a pack row its pack summary.

function matches(name, query) {
    return query === "" || String(name).toLowerCase().indexOf(query) >= 0
}

function packRows(packs, query) {
    const rows = []
    for (const pack of packs) {
        if (matches(pack.name, query))
            rows.push({kind: "pack", pack: pack})
    }
    return rows
}

// Every project in the bridge's order, then the group of packs outside any project. With a
// query a group is listed when its own name or one of its packs' names holds it, and shows the
// matching packs; without one it shows its packs only while expanded.
function rows(projects, rootPacks, expanded, rootExpanded, query) {
    const q = String(query || "").toLowerCase()
    const list = []
    for (let i = 0; i < projects.length; ++i) {
        const project = projects[i]
        const packs = packRows(project.packs || [], q)
        if (q !== "" && !matches(project.name, q) && packs.length === 0)
            continue
        const open = expanded.indexOf(project.name) >= 0
        list.push({kind: "project", name: project.name, position: i, expanded: open})
        if (open || q !== "")
            list.push(...packs)
    }
    const loose = packRows(rootPacks, q)
    if (q === "" || loose.length > 0) {
        list.push({kind: "root", name: "未归属", position: -1, expanded: rootExpanded})
        if (rootExpanded || q !== "")
            list.push(...loose)
    }
    return list
}

// Where a pack dropped on row `at` goes: before a pack row's pack, in its project; into a
// project (or the root group), before the pack listed right after its row, or at the end.
// Null when there is no row.
function dropTarget(list, at) {
    if (at < 0 || at >= list.length)
        return null
    const row = list[at]
    if (row.kind === "pack")
        return {before: row.pack.index, project: row.pack.project || ""}
    const next = list[at + 1]
    return {
        before: next && next.kind === "pack" ? next.pack.index : -1,
        project: row.kind === "root" ? "" : row.name
    }
}

// All packs, projects first (in order), then the root group.
function allPacks(projects, rootPacks) {
    const packs = []
    for (const project of projects)
        packs.push(...(project.packs || []))
    packs.push(...rootPacks)
    return packs
}

// The newest pack: the greatest "seq", on equal seq the greater index; null without packs.
function latestPack(projects, rootPacks) {
    let best = null
    for (const pack of allPacks(projects, rootPacks)) {
        if (!best || pack.seq > best.seq || (pack.seq === best.seq && pack.index > best.index))
            best = pack
    }
    return best
}

function packNamed(projects, rootPacks, name) {
    for (const pack of allPacks(projects, rootPacks)) {
        if (pack.name === name)
            return pack
    }
    return null
}

function packAt(projects, rootPacks, index) {
    for (const pack of allPacks(projects, rootPacks)) {
        if (pack.index === index)
            return pack
    }
    return null
}
