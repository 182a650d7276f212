// korctl mcp driven by a client nobody here wrote: the official MCP SDK's client starts it over
// stdio, lists the tools and calls them on live sessions of the real kor daemon; every result
// with structured content is checked against the tool's outputSchema by the SDK itself (a
// mismatch makes callTool throw). The Inspector's command-line mode lists the tools too.
import { test, after } from "node:test";
import assert from "node:assert/strict";
import { execFile } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { promisify } from "node:util";

import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

const here = path.dirname(fileURLToPath(import.meta.url));
const build = process.env.KORCTL_BUILD ?? path.join(here, "..", "..", "build");
const korctl = path.join(build, "korctl");
const shells = ["/bin/bash", "/bin/dash"].filter((shell) => fs.existsSync(shell));

// A private short HOME (socket paths are limited) for each client.
const homes = [];
function makeHome() {
  const home = fs.mkdtempSync("/tmp/km");
  homes.push(home);
  return home;
}

// Ends every process whose environment carries one of our HOMEs, then removes them.
after(() => {
  for (const pid of fs.readdirSync("/proc").filter((entry) => /^\d+$/.test(entry))) {
    if (Number(pid) === process.pid) continue;
    let environ;
    try {
      environ = fs.readFileSync(`/proc/${pid}/environ`);
    } catch {
      continue;
    }
    if (homes.some((home) => environ.includes(Buffer.from(`HOME=${home}\0`)))) {
      try {
        process.kill(Number(pid), "SIGKILL");
      } catch {}
    }
  }
  for (const home of homes) fs.rmSync(home, { recursive: true, force: true });
});

async function connect(home) {
  const transport = new StdioClientTransport({
    command: korctl,
    args: ["mcp"],
    env: { ...process.env, HOME: home, LC_ALL: "C.UTF-8", ASAN_OPTIONS: "detect_leaks=0" },
    stderr: "pipe",
  });
  let log = "";
  transport.stderr?.on("data", (chunk) => (log += chunk));
  const client = new Client({ name: "korctl-tests", version: "1.0.0" });
  await client.connect(transport);
  const { tools } = await client.listTools(); // the SDK keeps each outputSchema to check results
  return { client, tools, log: () => log };
}

// A tool call that must succeed; returns its structured content.
async function call(client, name, args, options) {
  const result = await client.callTool({ name, arguments: args }, undefined, options);
  assert.equal(result.isError, false, `${name}: ${JSON.stringify(result.content)}`);
  assert.ok(result.structuredContent, `${name} gave no structured content`);
  assert.deepEqual(JSON.parse(result.content.at(-1).text), result.structuredContent);
  return result.structuredContent;
}

async function failingCall(client, name, args) {
  const result = await client.callTool({ name, arguments: args });
  assert.equal(result.isError, true, `${name} should fail: ${JSON.stringify(result)}`);
  return { text: result.content.map((block) => block.text).join("\n"), structured: result.structuredContent };
}

test("every tool is listed with its input and output schemas", async () => {
  const { client, tools } = await connect(makeHome());
  const names = tools.map((tool) => tool.name).sort();
  assert.deepEqual(names, [
    "session_expect", "session_key", "session_kill", "session_list", "session_open", "session_read",
    "session_run", "session_screen", "session_write",
  ]);
  for (const tool of tools) {
    assert.equal(tool.inputSchema.type, "object", tool.name);
    assert.equal(tool.outputSchema.type, "object", tool.name);
    assert.ok(tool.description.length > 20, tool.name);
  }
  assert.deepEqual(await call(client, "session_list", {}), { sessions: [] });
  await client.close();
});

for (const shell of shells) {
  test(`the core loop on a live ${path.basename(shell)} session`, async () => {
    const { client, log } = await connect(makeHome());
    const opened = await call(client, "session_open", { name: "s", shell, size: "30x100" });
    assert.deepEqual(opened, { name: "s", host: "localhost", started: true });
    assert.equal((await call(client, "session_open", { name: "s" })).started, false);
    const listed = await call(client, "session_list", {});
    assert.deepEqual(listed.sessions.map((row) => [row.name, row.status]), [["s", "connected"]]);

    // run: the command's exact output and exit status, nothing of the prompt or the echo.
    const ran = await call(client, "session_run", { name: "s", command: "echo one; printf 'tw\\157\\n'; sh -c 'exit 3'" });
    assert.deepEqual({ ...ran, cursor: undefined }, { output: "one\r\ntwo\r\n", exitStatus: 3, timedOut: false, cursor: undefined });
    // Its cursor is past the command's output: a read from there shows none of it.
    const after = await call(client, "session_read", { name: "s", cursor: ran.cursor });
    assert.ok(ran.cursor > 0 && !after.data.includes("two"), JSON.stringify([ran, after]));
    const bold = await call(client, "session_run", { name: "s", command: "printf '\\033[1mbold\\033[0m\\n'", strip: true });
    assert.equal(bold.output, "bold\n");
    // A run that times out is an error result saying whether its command got an interrupt (not
    // where the shell would take it for typed text); after one the shell serves the next run.
    const late = await client.callTool({ name: "session_run", arguments: { name: "s", command: "sleep 30", timeout: 1 } });
    assert.equal(late.isError, true, JSON.stringify(late));
    assert.equal(late.structuredContent.timedOut, true);
    if (!/; interrupt sent/.test(late.content[0].text)) await call(client, "session_key", { name: "s", keys: ["interrupt"] });
    assert.equal((await call(client, "session_run", { name: "s", command: "echo back", timeout: 20 })).output, "back\r\n");

    // A cancelled run interrupts its command: the next run is served at once, not after the sleep.
    const controller = new AbortController();
    const running = client.callTool({ name: "session_run", arguments: { name: "s", command: "sleep 30; echo slept" } },
                                    undefined, { signal: controller.signal });
    await new Promise((resolve) => setTimeout(resolve, 800));
    controller.abort("test");
    await assert.rejects(running);
    const next = await call(client, "session_run", { name: "s", command: "echo next", timeout: 15 });
    assert.equal(next.output, "next\r\n");

    // writeln, then expect with afterInput: the answer is found even when it came before the expect.
    await call(client, "session_write", { name: "s", text: "echo quick''answer", line: true });
    await new Promise((resolve) => setTimeout(resolve, 500));
    assert.equal((await call(client, "session_expect", { name: "s", pattern: "quickanswer", afterInput: true,
                                                         timeout: 20 })).matched, true);

    // read with cursors: a second read from the first's nextCursor sees only what came after.
    const first = await call(client, "session_read", { name: "s" });
    await call(client, "session_write", { name: "s", text: "echo one''$((40+2))", line: true });
    const found = await call(client, "session_expect", { name: "s", pattern: "one42", exact: true,
                                                         cursor: first.nextCursor, timeout: 20 });
    assert.equal(found.matched, true);
    const later = await call(client, "session_read", { name: "s", cursor: first.nextCursor, strip: true });
    assert.match(later.data, /one42\n/);
    assert.ok(later.nextCursor > first.nextCursor);
    const rest = await call(client, "session_read", { name: "s", cursor: later.nextCursor });
    assert.equal(rest.data.includes("one42"), false, JSON.stringify([later, rest]));

    // Bytes that are not UTF-8 come back exactly, in base64 beside the readable text.
    await call(client, "session_write", { name: "s", text: "printf 'x\\377y\\n'", line: true });
    await call(client, "session_expect", { name: "s", pattern: "x.y", cursor: rest.nextCursor, timeout: 20 });
    const raw = await call(client, "session_read", { name: "s", cursor: rest.nextCursor });
    assert.ok(raw.data.includes("x\ufffdy"));
    assert.ok(Buffer.from(raw.dataBase64, "base64").includes(Buffer.from([0x78, 0xff, 0x79])));

    // A long command stopped with the interrupt key; the shell answers again afterwards.
    const before = (await call(client, "session_read", { name: "s" })).nextCursor;
    await call(client, "session_write", { name: "s", text: "sleep 30; echo slept", line: true });
    await new Promise((resolve) => setTimeout(resolve, 300));
    assert.equal((await call(client, "session_key", { name: "s", keys: ["interrupt"] })).bytes, 1);
    await call(client, "session_write", { name: "s", text: "echo after''-interrupt", line: true });
    const back = await call(client, "session_expect", { name: "s", pattern: "after-interrupt", cursor: before,
                                                        timeout: 10 });
    assert.doesNotMatch(back.text, /^slept$/m);  // the typed line holds the word, the output does not

    const screen = await call(client, "session_screen", { name: "s" });
    assert.equal(screen.rows, 30);
    assert.equal(screen.cols, 100);
    assert.ok(screen.lines.some((line) => line === "after-interrupt"), JSON.stringify(screen.lines));

    // A wait that is cancelled stops; the session serves the next call at once.
    const stopWaiting = new AbortController();
    const waiting = client.callTool({ name: "session_expect", arguments: { name: "s", pattern: "never-shown" } },
                                    undefined, { signal: stopWaiting.signal });
    setTimeout(() => stopWaiting.abort("test"), 300);
    await assert.rejects(waiting);
    assert.equal((await call(client, "session_screen", { name: "s" })).rows, 30);

    assert.deepEqual(await call(client, "session_kill", { name: "s" }), { name: "s", ended: true });
    const gone = await failingCall(client, "session_read", { name: "s" });
    assert.match(gone.text, /session 's' ended/);
    await client.close();
    assert.equal(log().includes("error"), false, log());
  });
}

test("a client that goes away mid-run leaves the session at its prompt", async () => {
  const home = makeHome();
  const first = await connect(home);
  await call(first.client, "session_open", { name: "g", shell: shells[0] });
  const running = first.client.callTool({ name: "session_run", arguments: { name: "g", command: "sleep 30; echo slept" } });
  running.catch(() => {});  // never answered: the connection closes under it
  await new Promise((resolve) => setTimeout(resolve, 800));
  await first.client.close();
  const second = await connect(home);
  const next = await call(second.client, "session_run", { name: "g", command: "echo again", timeout: 15 });
  assert.equal(next.output, "again\r\n");
  await call(second.client, "session_kill", { name: "g" });
  await second.client.close();
});

test("tool failures are error results with the command's message", async () => {
  const { client } = await connect(makeHome());
  assert.match((await failingCall(client, "session_read", { name: "nosuch" })).text, /cannot reach session 'nosuch'/);
  await call(client, "session_open", { name: "f", shell: shells[0] });
  assert.match((await failingCall(client, "session_expect", { name: "f", pattern: "(" })).text, /bad pattern/);
  const late = await failingCall(client, "session_expect", { name: "f", pattern: "never", timeout: 0.3 });
  assert.deepEqual(late.structured, { matched: false });
  assert.match(late.text, /timed out waiting for \/never\//);
  assert.match((await failingCall(client, "session_key", { name: "f", keys: ["nokey"] })).text, /unknown key 'nokey'/);
  assert.match((await failingCall(client, "session_read", { name: "f", cursor: "0" })).text, /must be an integer/);
  await call(client, "session_kill", { name: "f" });
  await client.close();
});

test("the Inspector's command-line mode lists the tools", async () => {
  const home = makeHome();
  const inspector = path.join(here, "node_modules", ".bin", "mcp-inspector");
  const { stdout } = await promisify(execFile)(inspector, ["--cli", korctl, "mcp", "--method", "tools/list"], {
    env: { ...process.env, HOME: home, ASAN_OPTIONS: "detect_leaks=0" },
    timeout: 60000,
  });
  const names = JSON.parse(stdout).tools.map((tool) => tool.name);
  assert.ok(names.includes("session_open") && names.includes("session_kill"), stdout);
});
