// The "Notifications" card of the launcher and the follow page. The page's own "subscription" address
// takes the browser's push subscription; the relay's key is in <html data-push-key>. Permission is asked
// only on a tap, and a browser that can't take part leaves the rest of the page as it is. A relay that
// sends no notifications has no card.
(() => {
  "use strict";
  const button = document.getElementById("notify");
  if (!button) return;
  const status = document.getElementById("notify-status");
  const key = document.documentElement.dataset.pushKey || "";

  const ua = navigator.userAgent || "";
  // iPads ask for desktop pages and say "Macintosh"; only the touch points tell them apart.
  const isIOS = /iPhone|iPad|iPod/.test(ua) || (ua.includes("Macintosh") && navigator.maxTouchPoints > 1);
  const standalone = (typeof matchMedia === "function" && matchMedia("(display-mode: standalone)").matches) ||
    navigator.standalone === true;
  const supported = "serviceWorker" in navigator && "PushManager" in window && "Notification" in window;

  const SAID = {
    on: "Notifications are on.",
    unsupported: "This browser can’t show notifications from Tesk.",
    homeScreen: "Add Tesk to your Home Screen, then turn on notifications there.",
    blocked: "Notifications are blocked for this page in the browser’s settings.",
    failed: "Notifications couldn’t be turned on here.",
  };

  // `final`: nothing a tap could change, so the button goes.
  function say(text, final) {
    status.textContent = text;
    status.classList.toggle("ok", text === SAID.on);
    button.classList.toggle("hidden", final);
  }

  // The key as bytes; atob takes base64 without its padding.
  function keyBytes() {
    return Uint8Array.from(atob(key.replace(/-/g, "+").replace(/_/g, "/")), (c) => c.charCodeAt(0));
  }

  function sameKey(subscription) {
    const given = subscription.options?.applicationServerKey;
    if (!given) return true;
    const mine = keyBytes();
    const theirs = new Uint8Array(given);
    return theirs.length === mine.length && theirs.every((byte, i) => byte === mine[i]);
  }

  async function post(subscription) {
    const response = await fetch("subscription", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(subscription),
    });
    return response.ok;
  }

  async function turnOn() {
    button.disabled = true;
    try {
      const permission = await Notification.requestPermission();
      if (permission === "denied") return say(SAID.blocked, true);
      if (permission !== "granted") return; // dismissed: the button stays for another try
      await navigator.serviceWorker.register("/push-worker.js");
      // Subscribing needs an active worker.
      const registration = await navigator.serviceWorker.ready;
      const subscription = await registration.pushManager.subscribe({
        userVisibleOnly: true,
        applicationServerKey: keyBytes(),
      });
      if (await post(subscription)) say(SAID.on, true);
      else say(SAID.failed, false);
    } catch {
      say(SAID.failed, false);
    } finally {
      button.disabled = false;
    }
  }

  // A browser subscribed before tells the relay again: the relay may have lost it or be a new one.
  async function renew() {
    if (Notification.permission !== "granted") return;
    const registration = await navigator.serviceWorker.getRegistration("/");
    const subscription = await registration?.pushManager.getSubscription();
    if (!subscription) return;
    // Made for another key, it could never carry the relay's messages.
    if (!sameKey(subscription)) return void (await subscription.unsubscribe());
    if (await post(subscription)) say(SAID.on, true);
  }

  // An iPhone takes notifications only in a web app on its Home Screen, which only the launcher is.
  if (isIOS && !standalone) {
    return say(document.querySelector('link[rel="manifest"]') ? SAID.homeScreen : SAID.unsupported, true);
  }
  if (!supported) return say(SAID.unsupported, true);
  if (Notification.permission === "denied") return say(SAID.blocked, true);
  button.addEventListener("click", turnOn);
  renew().catch(() => {});
})();
