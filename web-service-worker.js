// The web page's service worker (web/sw.js), served from the checkout's
// root: a service worker's scope is at most its own folder, and this one
// must cover the page (web/) and the package it loads (js/).
importScripts('web/sw.js');
