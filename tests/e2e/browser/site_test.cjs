// The comics site as a person sees it, in headless Chromium: the home,
// calendar and day pages load whole at desktop and phone widths, every link
// and image on them resolves, their markup is valid HTML5, and the calendar
// leads to a day with JavaScript and without it.
//
// Usage: node site_test.cjs COMICS_SERVER_BINARY
// Exits 77 (skipped) when Chromium or the Node modules are missing, unless
// QUORVEL_REQUIRE_BROWSER_TESTS=1. Screenshots go to QUORVEL_SCREENSHOT_DIR
// when it is set, else to a scratch directory removed at the end.
"use strict";

const assert = require("node:assert/strict");
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const readline = require("node:readline");

const chromiumPath = process.env.QUORVEL_CHROMIUM || "/usr/bin/chromium";
const serverBinary = process.argv[2];

function skip(reason) {
  if (process.env.QUORVEL_REQUIRE_BROWSER_TESTS === "1") {
    console.error(`browser tests cannot run: ${reason}`);
    process.exit(1);
  }
  console.log(`SKIPPED: ${reason} (scripts/setup-machine --browser installs it)`);
  process.exit(77);
}

if (!serverBinary) {
  console.error("usage: node site_test.cjs COMICS_SERVER_BINARY");
  process.exit(2);
}
if (!fs.existsSync(chromiumPath)) skip(`no browser at ${chromiumPath}`);
let chromium, HtmlValidate;
try {
  ({ chromium } = require("playwright-core"));
  ({ HtmlValidate } = require("html-validate"));
} catch (error) {
  skip(`the Node modules are missing (${error.code || error.message})`);
}

const { test, before, after } = require("node:test");

// Sunday 3 March 2024 lies inside the archive, which spans three months.
const today = "20240305";
const sunday = "20240303";
const firstDay = "20230131";
const calendar = "/comics/quorvel/archive/";
const dayPath = (ymd) => `${calendar}cal-${ymd}.html`;

const pages = {
  home: "/",
  calendar,
  partnerCalendar: "/partner/owlfred/archive/",
  sunday: dayPath(sunday),
  first: dayPath(firstDay),
  latest: dayPath(today),
  year: `${calendar}year-2023.html`,
};
const desktop = { width: 1280, height: 900 };
const phone = { width: 360, height: 740 };

const chromiumFlags = [
  "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
];

let server;
let origin;
let browser;
let shotDir;
let removeShots = false;

function startServer() {
  return new Promise((resolve, reject) => {
    const child = spawn(serverBinary,
                        ["--listen", "127.0.0.1:0", "--today", "2024-03-05", "--days", "400"],
                        { stdio: ["ignore", "pipe", "inherit"] });
    child.on("error", reject);
    child.on("exit", (code) => reject(new Error(`comics-server ended with ${code}`)));
    readline.createInterface({ input: child.stdout }).once("line", (line) => {
      const port = Number(line);
      if (!Number.isInteger(port) || port <= 0) reject(new Error(`no port: ${line}`));
      resolve({ child, port });
    });
  });
}

before(async () => {
  const started = await startServer();
  server = started.child;
  origin = `http://127.0.0.1:${started.port}`;
  browser = await chromium.launch({ executablePath: chromiumPath, args: chromiumFlags });
  if (process.env.QUORVEL_SCREENSHOT_DIR) {
    shotDir = process.env.QUORVEL_SCREENSHOT_DIR;
    fs.mkdirSync(shotDir, { recursive: true });
  } else {
    shotDir = fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-site-"));
    removeShots = true;
  }
});

after(async () => {
  if (browser) await browser.close();
  if (server) {
    server.removeAllListeners("exit");
    server.kill("SIGTERM");
  }
  if (removeShots) fs.rmSync(shotDir, { recursive: true, force: true });
});

// Opens `address` in a fresh page that records every answer of 400 or more
// and every request that failed.
async function open(context, address) {
  const page = await context.newPage();
  const problems = [];
  page.on("response", (response) => {
    if (response.status() >= 400) problems.push(`${response.status()} ${response.url()}`);
  });
  page.on("requestfailed", (request) => problems.push(`failed ${request.url()}`));
  const response = await page.goto(origin + address, { waitUntil: "load" });
  assert.equal(response.status(), 200, address);
  return { page, problems };
}

// Width and height of a PNG from its header.
function pngSize(buffer) {
  assert.equal(buffer.subarray(0, 8).toString("hex"), "89504e470d0a1a0a", "a PNG file");
  return { width: buffer.readUInt32BE(16), height: buffer.readUInt32BE(20) };
}

for (const [name, size, mobile] of [["desktop", desktop, false], ["phone", phone, true]]) {
  test(`home, calendar and day pages load whole at ${name} width`, async () => {
    const context = await browser.newContext({ viewport: size, isMobile: mobile, hasTouch: mobile });
    try {
      for (const key of ["home", "calendar", "sunday", "year"]) {
        const { page, problems } = await open(context, pages[key]);
        const facts = await page.evaluate(() => ({
          rules: [...document.styleSheets].reduce((n, sheet) => n + sheet.cssRules.length, 0),
          images: [...document.images].map((img) => ({ src: img.src, ok: img.complete && img.naturalWidth > 0 })),
          layoutWidth: window.innerWidth,
          scrollWidth: document.documentElement.scrollWidth,
        }));
        assert.deepEqual(problems, [], `${key}: every request answered`);
        assert.ok(facts.rules > 0, `${key}: the stylesheet applies`);
        if (key !== "calendar" && key !== "year") assert.ok(facts.images.length > 0, `${key}: shows strips`);
        for (const image of facts.images) assert.ok(image.ok, `${key}: ${image.src} decoded`);
        // The page is laid out for the screen it is on and needs no sideways scrolling.
        assert.equal(facts.layoutWidth, size.width, `${key}: laid out at the device width`);
        assert.ok(facts.scrollWidth <= size.width, `${key}: ${facts.scrollWidth} px wide on ${size.width}`);

        const file = path.join(shotDir, `${key}-${name}.png`);
        await page.screenshot({ path: file, fullPage: true });
        const shot = pngSize(fs.readFileSync(file));
        assert.equal(shot.width, size.width, `${key}: screenshot width`);
        assert.ok(shot.height >= size.height, `${key}: screenshot height`);
        await page.close();
      }
    } finally {
      await context.close();
    }
  });
}

// Every address a page names: links, images, stylesheets, form targets.
async function addressesOn(page) {
  return page.evaluate(() => [
    ...[...document.querySelectorAll("a[href]")].map((a) => ({ kind: a.type || "text/html", url: a.href })),
    ...[...document.querySelectorAll("img[src]")].map((img) => ({ kind: "image/gif", url: img.src })),
    ...[...document.querySelectorAll("link[rel=stylesheet]")].map((l) => ({ kind: "text/css", url: l.href })),
    ...[...document.querySelectorAll("form[action]")].map((f) => ({ kind: "text/html", url: f.action })),
  ]);
}

test("every link, image and stylesheet on the pages resolves", async () => {
  const context = await browser.newContext({ viewport: desktop });
  const checked = new Map();
  try {
    for (const address of Object.values(pages)) {
      const { page } = await open(context, address);
      for (const { kind, url } of await addressesOn(page)) {
        assert.ok(url.startsWith(origin + "/"), `${address} names ${url}, outside the site`);
        if (checked.has(url)) continue;
        const answer = await fetch(url);
        await answer.arrayBuffer();
        checked.set(url, answer.status);
        assert.equal(answer.status, 200, `${url} on ${address}`);
        assert.equal(answer.headers.get("content-type"), kind, `${url} on ${address}`);
      }
      await page.close();
    }
  } finally {
    await context.close();
  }
  // The home page alone names 30 calendars, 30 latest days and their strips.
  assert.ok(checked.size > 90, `${checked.size} addresses checked`);
});

test("the pages are valid HTML5", async () => {
  const validator = new HtmlValidate({
    extends: ["html-validate:standard", "html-validate:document"],
    // Integrity hashes matter for resources from other sites; this site has none.
    rules: { "require-sri": ["error", { target: "crossorigin" }] },
  });
  const failures = [];
  for (const address of Object.values(pages)) {
    const html = await (await fetch(origin + address)).text();
    const report = await validator.validateString(html, address);
    for (const result of report.results)
      for (const m of result.messages) failures.push(`${address}:${m.line}:${m.column} ${m.ruleId}: ${m.message}`);
  }
  assert.deepEqual(failures, []);
});

test("without JavaScript the Go button and the month grid lead to a day", async () => {
  const context = await browser.newContext({ viewport: desktop, javaScriptEnabled: false });
  try {
    const { page, problems } = await open(context, calendar);
    await page.selectOption("#day", dayPath("20240302"));
    await Promise.all([page.waitForURL(/\?day=/), page.click("button[type=submit]")]);
    assert.equal(await page.textContent("h2"), "Saturday, March 2, 2024");
    assert.ok((await page.getAttribute("main img", "src")).endsWith("quorvel-20240302.gif"));

    await page.goto(origin + calendar);
    const february = page.locator("table", { has: page.locator("caption", { hasText: "February 2024" }) });
    await Promise.all([page.waitForURL(/cal-20240229\.html$/), february.getByRole("link", { name: "29", exact: true }).click()]);
    assert.equal(await page.textContent("h2"), "Thursday, February 29, 2024");
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test("with JavaScript choosing a day opens it at once, and the day links walk the archive", async () => {
  const context = await browser.newContext({ viewport: desktop });
  try {
    const { page, problems } = await open(context, calendar);
    await Promise.all([page.waitForURL(/cal-20240303\.html$/), page.selectOption("#day", dayPath(sunday))]);
    assert.equal(await page.textContent("h2"), "Sunday, March 3, 2024");
    assert.equal(await page.locator("main img").count(), 2, "a Sunday has its extra panel");

    for (const [link, ymd, heading] of [["Previous", "20240302", "Saturday, March 2, 2024"],
                                        ["Latest", today, "Tuesday, March 5, 2024"],
                                        ["First", firstDay, "Tuesday, January 31, 2023"]]) {
      await Promise.all([page.waitForURL(new RegExp(`cal-${ymd}\\.html$`)),
                         page.getByRole("link", { name: link, exact: true }).first().click()]);
      assert.equal(await page.textContent("h2"), heading, link);
    }
    // The first day has no day before it to link, above or below the strip.
    assert.equal(await page.getByRole("link", { name: "Previous", exact: true }).count(), 0);
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test("without JavaScript the strip, the navigation below it, Random and the year menu lead on", async () => {
  const context = await browser.newContext({ viewport: phone, isMobile: true, javaScriptEnabled: false });
  try {
    const { page, problems } = await open(context, dayPath("20240302"));
    await Promise.all([page.waitForURL(/cal-20240303\.html$/), page.click("main .strip a")]);
    const below = page.getByRole("navigation", { name: "Days, below the strip" });
    await Promise.all([page.waitForURL(/cal-20240302\.html$/), below.getByRole("link", { name: "Previous" }).click()]);
    await Promise.all([page.waitForURL(/cal-\d{8}\.html$/), below.getByRole("link", { name: "Random" }).click()]);
    // A Sunday shows its extra panel as a second strip image.
    assert.ok(await page.locator("main .strip img").count() >= 1, "a random day shows its strip");

    await page.goto(origin + calendar);
    await Promise.all([page.waitForURL(/year-2023\.html$/), page.getByRole("link", { name: "2023" }).click()]);
    assert.equal(await page.textContent("h2"), "2023");
    const january = page.locator("table", { has: page.locator("caption", { hasText: "January 2023" }) });
    await Promise.all([page.waitForURL(/cal-20230131\.html$/), january.getByRole("link", { name: "31", exact: true }).click()]);
    assert.equal(await page.locator("link[rel=alternate][type='application/atom+xml']").count(), 1, "the feed is named");
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});
