// Asks the test's server on the loopback for the next command, carries it out with Chromium's own tab and
// tab-group calls and posts the result back, with Chromium's report of its windows, tabs and groups. The
// server's port is in port.txt, written beside this file by the test. Chromium runs one worker per profile: each
// names itself by an id kept in its profile's storage, so that the test addresses one profile. Each round calls
// an extension API, which keeps the worker alive between commands.

const pause = milliseconds => new Promise(resolve => setTimeout(resolve, milliseconds));

async function report() {
  const windows = await chrome.windows.getAll({populate: true, windowTypes: ['normal']});
  const groups = await chrome.tabGroups.query({});
  return {
    windows: windows.map(window => ({
      id: window.id,
      focused: window.focused,
      tabs: window.tabs.map(tab => ({
        id: tab.id, title: tab.title, url: tab.url || tab.pendingUrl || '', active: tab.active,
        groupId: tab.groupId,
      })),
    })),
    groups: groups.map(group => ({
      id: group.id, title: group.title || '', collapsed: group.collapsed, windowId: group.windowId,
    })),
  };
}

// Waits until every tab of the window has finished loading, so that titles are final.
async function settle(windowId) {
  for (let round = 0; round < 100; ++round) {
    const tabs = await chrome.tabs.query({windowId});
    if (tabs.every(tab => tab.status === 'complete'))
      return;
    await pause(100);
  }
}

const commands = {
  report: async () => ({}),
  // A new window with the given pages (the first active).
  openWindow: async command => {
    const window = await chrome.windows.create({url: command.urls, focused: true});
    await settle(window.id);
    return {windowId: window.id};
  },
  // New tabs of the given pages in the window (from `index` on, else at its end), made a group with a title,
  // collapsed if asked.
  makeGroup: async command => {
    const tabIds = [];
    for (const [offset, url] of command.urls.entries()) {
      const where = command.index === undefined ? {} : {index: command.index + offset};
      tabIds.push((await chrome.tabs.create({windowId: command.windowId, url, active: false, ...where})).id);
    }
    await settle(command.windowId);
    const groupId = await chrome.tabs.group({tabIds, createProperties: {windowId: command.windowId}});
    await chrome.tabGroups.update(groupId, {title: command.title, collapsed: !!command.collapsed});
    return {groupId};
  },
  collapse: async command => {
    await chrome.tabGroups.update(command.groupId, {collapsed: !!command.collapsed});
    return {};
  },
  activateTab: async command => {
    await chrome.tabs.update(command.tabId, {active: true});
    return {};
  },
  closeTabs: async command => {
    await chrome.tabs.remove(command.tabIds);
    return {};
  },
  focusWindow: async command => {
    await chrome.windows.update(command.windowId, {focused: true});
    return {};
  },
  // Answers once a group of that title is open, with the time it was first seen so (ms since the epoch).
  waitForGroup: command => new Promise(resolve => {
    const check = async () => {
      if ((await chrome.tabGroups.query({title: command.title})).length) {
        chrome.tabGroups.onCreated.removeListener(check);
        chrome.tabGroups.onUpdated.removeListener(check);
        resolve({at: Date.now()});
      }
    };
    chrome.tabGroups.onCreated.addListener(check);
    chrome.tabGroups.onUpdated.addListener(check);
    check();
  }),
  closeWindow: async command => {
    await chrome.windows.remove(command.windowId);
    return {};
  },
};

async function workerId() {
  const kept = (await chrome.storage.local.get('worker')).worker;
  if (kept)
    return kept;
  const made = crypto.randomUUID();
  await chrome.storage.local.set({worker: made});
  return made;
}

async function serve() {
  const port = (await (await fetch(chrome.runtime.getURL('port.txt'))).text()).trim();
  const server = `http://127.0.0.1:${port}`;
  const worker = await workerId();
  for (;;) {
    let command = null;
    try {
      const answer = await fetch(`${server}/next?worker=${worker}`, {cache: 'no-store'});
      command = answer.status === 200 ? await answer.json() : null;
    } catch (error) {
      await pause(500);
      continue;
    }
    if (!command) {
      await chrome.runtime.getPlatformInfo();
      await pause(100);
      continue;
    }
    let result;
    try {
      const done = await commands[command.op](command);
      result = {ok: true, ...done, ...(await report())};
    } catch (error) {
      result = {ok: false, error: String(error)};
    }
    result.id = command.id;
    try {
      await fetch(`${server}/result`, {method: 'POST', body: JSON.stringify(result)});
    } catch (error) {
      // The test is gone.
    }
  }
}

serve();
