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

// The push service replaced a subscription (some browsers do so now and then): the relay moves it
// wherever the old one was. Answers the relay's status.
self.renewSubscription = async (oldSubscription, newSubscription) => {
  const response = await fetch("/push-subscription", {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify({ old: oldSubscription.endpoint, subscription: newSubscription }),
  });
  return response.status;
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

self.addEventListener("pushsubscriptionchange", (event) => {
  // Without the old one there is nothing to tell the relay it replaces; the page subscribes anew.
  if (!event.oldSubscription) return;
  event.waitUntil((async () => {
    const renewed = event.newSubscription ||
      await self.registration.pushManager.subscribe(event.oldSubscription.options);
    await self.renewSubscription(event.oldSubscription, renewed);
  })());
});
