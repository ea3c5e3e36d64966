// The relay's service worker: shows what the relay pushes, and opens its address when tapped. The work
// is in functions on `self` so it can be called without a push service behind it.
"use strict";

// The message the relay sends is compact JSON {title, body, url}; anything else is shown as it is.
self.payloadOf = (text) => {
  try {
    const payload = JSON.parse(text);
    if (payload && typeof payload === "object") return payload;
  } catch {
    // Not JSON: shown as text below.
  }
  return { title: "Tesk", body: text };
};

self.showPush = (payload) =>
  self.registration.showNotification(String(payload.title || "Tesk"), {
    body: String(payload.body ?? ""),
    icon: "/icon.png",
    data: { url: String(payload.url || "/") },
  });

// The relay's addresses are relative to its own origin.
self.targetOf = (notification) => new URL(notification.data?.url || "/", self.location.origin).href;

// A window already showing the address comes forward instead of a second one opening.
self.openTarget = async (url) => {
  const windows = await self.clients.matchAll({ type: "window", includeUncontrolled: true });
  const open = windows.find((client) => client.url === url);
  return open ? open.focus() : self.clients.openWindow(url);
};

// A newer worker takes over at once: there is no cache that would need the old one.
self.addEventListener("install", () => self.skipWaiting());

self.addEventListener("push", (event) => {
  event.waitUntil(self.showPush(self.payloadOf(event.data ? event.data.text() : "")));
});

self.addEventListener("notificationclick", (event) => {
  event.notification.close();
  event.waitUntil(self.openTarget(self.targetOf(event.notification)));
});
